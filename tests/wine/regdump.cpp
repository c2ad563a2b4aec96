// Prints a subtree of a .reg file in one plain form, whatever the file's
// encoding, so that two registries can be compared line by line:
//   [HKEY_LOCAL_MACHINE\ExtModems\IR]
//   "Port" 1 43,00,4f,00,...
// Usage: regdump FILE ROOT\PATH
#include "savefile/savefile.h"
#include "regfile/regfile.h"
#include "text/codecs.h"

#include <cstdio>
#include <string>

namespace {

void Dump(const std::string &path, const registry::RegKey &key)
{
    std::printf("[%s]\n", path.c_str());
    for (const auto &v : key.values) {
        std::printf("\"%s\" %u ", text::Utf8(v.Name()).c_str(), static_cast<unsigned>(v.type));
        for (size_t i = 0; i < v.Data().size(); ++i)
            std::printf(i ? ",%02x" : "%02x", v.Data()[i]);
        std::printf("\n");
    }
    for (const registry::RegKey *sub : key.subkeys)
        Dump(path + "\\" + text::Utf8(sub->Name()), *sub);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: regdump FILE ROOT\\PATH\n");
        return 64;
    }
    savefile::Failure failure;
    auto file = savefile::HeldFile::Open(argv[1], false, {}, failure);
    if (!file || !file->Existed()) {
        std::fprintf(stderr, "%s\n", file ? (std::string(argv[1]) + ": does not exist").c_str() : failure.message.c_str());
        return 66;
    }
    regfile::Loaded loaded;
    if (auto fault = regfile::Load(*file, loaded)) {
        std::fprintf(stderr, "%s:%zu: %s\n", argv[1], fault->line, fault->message.c_str());
        return 65;
    }
    std::string full = argv[2];
    size_t slash = full.find('\\');
    std::string rootName = full.substr(0, slash);
    for (registry::Root root : registry::AllRoots()) {
        if (rootName != registry::RootName(root))
            continue;
        std::u16string sub = slash == std::string::npos ? u"" : text::U16(full.substr(slash + 1));
        if (const registry::RegKey *key = loaded.registry.FindKey(root, sub))
            Dump(full, *key);
        else
            std::printf("(no %s)\n", full.c_str());
        return 0;
    }
    std::fprintf(stderr, "regdump: unknown root in %s\n", argv[2]);
    return 64;
}
