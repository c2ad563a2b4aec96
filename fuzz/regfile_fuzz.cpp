// libFuzzer target for the registry file loader: no input may crash it or
// draw a sanitizer report, and every input that loads is a fixed point of
// load, save, load.
#include "regfile/regfile.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

bool SameTree(const registry::RegKey &a, const registry::RegKey &b)
{
    if (a.Name() != b.Name() || a.values.size() != b.values.size() || a.subkeys.size() != b.subkeys.size())
        return false;
    for (size_t i = 0; i < a.values.size(); ++i)
        if (a.values[i].Name() != b.values[i].Name() || a.values[i].type != b.values[i].type ||
            a.values[i].Data() != b.values[i].Data())
            return false;
    for (size_t i = 0; i < a.subkeys.size(); ++i)
        if (!SameTree(*a.subkeys[i], *b.subkeys[i]))
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string_view input(reinterpret_cast<const char *>(data), size);
    regfile::Loaded first;
    if (regfile::Load(input, first))
        return 0;

    std::string saved, error;
    if (!regfile::Save(first.registry, first.format, saved, error))
        abort(); // what was read can always be written back
    regfile::Loaded second;
    if (regfile::Load(saved, second))
        abort();
    for (registry::Root root : registry::AllRoots())
        if (!SameTree(first.registry.RootKey(root), second.registry.RootKey(root)))
            abort();
    std::string again;
    if (!regfile::Save(second.registry, second.format, again, error) || again != saved)
        abort();
    return 0;
}
