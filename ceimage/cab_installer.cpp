// The setup file is read here with every offset, count and length checked
// against its size; the cabinet around it is libmspack's to read.
#include "ceimage/cab_installer.h"

#include "bytes/le_reader.h"
#include "ceimage/mspack_library.h"
#include "text/ascii.h"
#include "text/shown.h"

#include <cstring>
#include <map>
#include <optional>

namespace ceimage {
namespace {

constexpr std::size_t kSetupHeaderSize = 100;
constexpr std::uint32_t kSetupSignature = 0x4543534D; // "MSCE"
constexpr std::uint16_t kHighestCeDirectory = 17;     // %CE1% to %CE17%
constexpr std::uint16_t kLinkToDirectory = 0, kLinkToFile = 1;
// The longest path the handheld takes (MAX_PATH, terminator included): a
// path built of strings no longer than this is kept, so that what the
// setup file makes of its strings stays within its own size many times over.
constexpr std::size_t kMaxPath = 260;

// The ARM processors among the installer's numbers: ARM 720, 820 and 920,
// StrongARM, ARM 7TDMI; 0 is a cabinet for any processor.
constexpr std::uint32_t kArmProcessors[] = {0, 1824, 2080, 2336, 2577, 70001};

// Text from the cabinet as it may be shown: control and non-ASCII bytes as
// \xNN, and cut after 60 of them.
std::string Shown(const std::string &name)
{
    return text::Shown(name, {false, false, 60, text::ShowOptions::Given});
}

struct SetupFile {
    struct File {
        std::uint16_t id = 0;
        std::uint16_t dir = 0;
        std::string name;
    };
    struct Link {
        std::uint16_t type = 0;
        std::uint16_t target = 0;
    };
    std::uint32_t architecture = 0;
    std::map<std::uint16_t, std::string> strings;
    std::map<std::uint16_t, std::string> dirs; // their paths, e.g. %CE1%\Sambrel
    std::vector<File> files;
    std::vector<Link> links;
    std::uint16_t registryKeys = 0;
};

class SetupReader {
public:
    explicit SetupReader(const std::vector<std::uint8_t> &bytes) : bytes_(bytes), r_(bytes.data(), bytes.size()) {}

    std::optional<SetupFile> Read(std::string &error)
    {
        if (bytes_.size() < kSetupHeaderSize)
            return Refuse(error, "it is " + std::to_string(bytes_.size()) + " bytes, shorter than its header");
        if (r_.Dword() != kSetupSignature)
            return Refuse(error, "it does not begin with MSCE");
        r_.Dword();
        std::uint32_t length = r_.Dword();
        if (length != bytes_.size())
            return Refuse(error, "its header says " + std::to_string(length) + " bytes, but it is " +
                                     std::to_string(bytes_.size()));
        r_.Dword();
        r_.Dword();
        setup_.architecture = r_.Dword();
        r_.Skip(6 * 4); // the system versions and builds it needs
        std::uint16_t counts[6];
        for (auto &c : counts)
            c = r_.Word();
        std::uint32_t offsets[6];
        for (auto &o : offsets)
            o = r_.Dword();
        std::uint16_t textAt[3], textLength[3]; // the name, the provider, the unsupported platforms
        for (int i = 0; i < 3; i++) {
            textAt[i] = r_.Word();
            textLength[i] = r_.Word();
        }
        if (!Text(textAt[0], textLength[0], "the program's name", error) ||
            !Text(textAt[1], textLength[1], "the provider", error) ||
            (textLength[2] && !Text(textAt[2], textLength[2], "the unsupported platforms", error)))
            return std::nullopt;
        setup_.registryKeys = counts[4];
        if (!Section("STRINGS", offsets[0], counts[0], &SetupReader::String, error) ||
            !Section("DIRS", offsets[1], counts[1], &SetupReader::Dir, error) ||
            !Section("FILES", offsets[2], counts[2], &SetupReader::FileEntry, error) ||
            !Section("REGHIVES", offsets[3], counts[3], &SetupReader::Hive, error) ||
            !Section("REGKEYS", offsets[4], counts[4], &SetupReader::Key, error) ||
            !Section("LINKS", offsets[5], counts[5], &SetupReader::Link, error))
            return std::nullopt;
        return setup_;
    }

private:
    using Entry = bool (SetupReader::*)(std::string &why);

    // An entry's fault, said only while the reader is still inside the
    // file (running past its end is said for every entry alike).
    bool Why(std::string &why, const std::string &text)
    {
        if (r_.Ok())
            why = text;
        return false;
    }

    std::nullopt_t Refuse(std::string &error, const std::string &why)
    {
        error = "the setup file is damaged: " + why;
        return std::nullopt;
    }

    // n bytes at the reader's place, the last of them the only terminator.
    bool Counted(std::size_t n, std::string &out)
    {
        std::size_t at = r_.Pos();
        r_.Skip(n);
        if (!r_.Ok() || n == 0)
            return false;
        const char *p = reinterpret_cast<const char *>(bytes_.data()) + at;
        if (p[n - 1] != 0 || std::memchr(p, 0, n - 1))
            return false;
        out.assign(p, n - 1);
        return true;
    }

    // A string the header places, whole inside the file.
    bool Text(std::uint16_t at, std::uint16_t length, const std::string &what, std::string &error)
    {
        r_.Seek(at);
        std::string text;
        if (!r_.Ok() || !Counted(length, text)) {
            Refuse(error, what + " (" + std::to_string(length) + " bytes at " + std::to_string(at) +
                              ") is not a terminated string inside the file");
            return false;
        }
        return true;
    }

    bool Section(const char *name, std::uint32_t at, std::uint16_t count, Entry entry, std::string &error)
    {
        r_.Seek(at);
        if (!r_.Ok()) {
            Refuse(error, std::string("its ") + name + " section begins at " + std::to_string(at) +
                              ", past its end");
            return false;
        }
        for (std::uint16_t i = 0; i < count; i++) {
            std::string why;
            if (!(this->*entry)(why)) {
                Refuse(error, std::string("its ") + name + " section, entry " + std::to_string(i + 1) + " of " +
                                  std::to_string(count) + ": " + (r_.Ok() ? why : "runs past the end of the file"));
                return false;
            }
        }
        return true;
    }

    // A list of string numbers ending in 0, n bytes long, as a path.
    bool PathOfStrings(std::size_t n, std::string &path, std::string &why)
    {
        if (n < 2 || n % 2)
            return Why(why, "a path of " + std::to_string(n) + " bytes");
        for (std::size_t i = 0; i + 1 < n / 2; i++) {
            std::uint16_t id = r_.Word();
            auto s = setup_.strings.find(id);
            if (!r_.Ok())
                return false;
            if (s == setup_.strings.end())
                return Why(why, "its path names string " + std::to_string(id) + ", which there is not");
            path += (i ? "\\" : "") + s->second;
            if (path.size() >= kMaxPath)
                return Why(why, "its path is longer than the " + std::to_string(kMaxPath - 1) +
                                    " characters a handheld's path may have");
        }
        if (r_.Word() != 0)
            return Why(why, "its path does not end in 0");
        return r_.Ok();
    }

    bool String(std::string &why)
    {
        std::uint16_t id = r_.Word();
        std::string text;
        if (!Counted(r_.Word(), text))
            return Why(why, "not a terminated string");
        if (id == 0 || !setup_.strings.emplace(id, text).second)
            return Why(why, "string number " + std::to_string(id) + " again or 0");
        return true;
    }

    bool Dir(std::string &why)
    {
        std::uint16_t id = r_.Word();
        std::string path;
        if (!PathOfStrings(r_.Word(), path, why))
            return false;
        if (!setup_.dirs.emplace(id, path).second)
            return Why(why, "folder number " + std::to_string(id) + " again");
        return true;
    }

    bool FileEntry(std::string &why)
    {
        SetupFile::File f;
        f.id = r_.Word();
        f.dir = r_.Word();
        r_.Word();
        r_.Dword(); // how to copy it
        if (!Counted(r_.Word(), f.name))
            return Why(why, "its name is not a terminated string");
        if (f.id == 0 || f.id > 999)
            return Why(why, "file number " + std::to_string(f.id) + " (1 to 999)");
        if (!setup_.dirs.count(f.dir))
            return Why(why, "it goes to folder " + std::to_string(f.dir) + ", which there is not");
        if (f.name.find_first_of("\\/:") != std::string::npos)
            return Why(why, "its name " + Shown(f.name) + " is not a plain file name");
        for (const auto &other : setup_.files)
            if (other.id == f.id)
                return Why(why, "file number " + std::to_string(f.id) + " again");
        setup_.files.push_back(f);
        return true;
    }

    bool Hive(std::string &why)
    {
        r_.Word();
        std::uint16_t root = r_.Word();
        r_.Word();
        std::string path;
        if (!PathOfStrings(r_.Word(), path, why))
            return false;
        if (root < 1 || root > 4)
            return Why(why, "registry root " + std::to_string(root) + " (1 to 4)");
        return true;
    }

    bool Key(std::string &)
    {
        r_.Skip(2 * 3 + 4);
        r_.Skip(r_.Word());
        return r_.Ok();
    }

    bool Link(std::string &why)
    {
        SetupFile::Link l;
        r_.Word();
        r_.Word();
        std::uint16_t base = r_.Word();
        l.target = r_.Word();
        l.type = r_.Word();
        std::string path;
        if (!PathOfStrings(r_.Word(), path, why))
            return false;
        if (base > kHighestCeDirectory)
            return Why(why, "its folder %CE" + std::to_string(base) + "% is not one of %CE1% to %CE17%");
        bool known = false;
        if (l.type == kLinkToFile) {
            for (const auto &f : setup_.files)
                known = known || f.id == l.target;
        } else if (l.type == kLinkToDirectory) {
            known = l.target == 0 || setup_.dirs.count(l.target);
        } else {
            return Why(why, "link type " + std::to_string(l.type) + " (0 or 1)");
        }
        if (!known)
            return Why(why, "it points at " + std::string(l.type == kLinkToFile ? "file " : "folder ") +
                                std::to_string(l.target) + ", which there is not");
        setup_.links.push_back(l);
        return true;
    }

    const std::vector<std::uint8_t> &bytes_;
    bytes::LeReader r_;
    SetupFile setup_;
};

// The number a member's name ends in (.000 to .999), or -1.
int FileNumber(const std::string &name)
{
    std::size_t n = name.size();
    if (n < 4 || name[n - 4] != '.')
        return -1;
    int number = 0;
    for (std::size_t i = n - 3; i < n; i++) {
        if (name[i] < '0' || name[i] > '9')
            return -1;
        number = number * 10 + (name[i] - '0');
    }
    return number;
}

bool IsProgram(const std::string &name)
{
    std::size_t n = name.size();
    if (n < 5)
        return false;
    return text::AsciiFolded(name.substr(n - 4)) == ".exe";
}

CabinetProgram Refused(const std::string &why)
{
    CabinetProgram p;
    p.error = why;
    return p;
}

// Members are known by the number their names end in, one member each.
bool NumberMembers(const std::vector<CabinetMember> &members, std::map<int, std::size_t> &byNumber, std::string &why)
{
    for (std::size_t i = 0; i < members.size(); i++) {
        int number = FileNumber(members[i].name);
        if (number >= 0 && !byNumber.emplace(number, i).second) {
            why = "two members end in ." + members[i].name.substr(members[i].name.size() - 3);
            return false;
        }
    }
    return true;
}

// The setup file, the member ending in .000.
std::optional<SetupFile> ReadSetup(Cabinet &cabinet, const std::map<int, std::size_t> &byNumber, std::string &why)
{
    auto setupMember = byNumber.find(0);
    if (setupMember == byNumber.end()) {
        why = "not a Windows CE installation cabinet: no member is a setup file (ending in .000)";
        return std::nullopt;
    }
    const std::string setupName = Shown(cabinet.Members()[setupMember->second].name);
    std::string error;
    auto setupBytes = cabinet.Read(setupMember->second, kMaxCabinetMember, error);
    std::optional<SetupFile> setup;
    if (setupBytes)
        setup = SetupReader(*setupBytes).Read(error);
    if (!setup)
        why = setupName + ": " + error;
    return setup;
}

// The one program the setup file installs, for an ARM handheld, with no
// registry entries to make first, and which the shortcuts to files, if
// any, point at; empty, with the reason, for any other.
std::string ProgramOf(const SetupFile &setup, const SetupFile::File *&program)
{
    bool arm = false;
    for (std::uint32_t p : kArmProcessors)
        arm = arm || setup.architecture == p;
    if (!arm)
        return "the cabinet is for processor " + std::to_string(setup.architecture) + ", not an ARM handheld";
    // The installer would make them before the program runs; the run here
    // would go without them.
    if (setup.registryKeys)
        return "the cabinet makes registry entries (" + std::to_string(setup.registryKeys) +
               "), which --image does not make";
    std::vector<const SetupFile::File *> programs;
    std::string names;
    for (const auto &f : setup.files) {
        if (IsProgram(f.name)) {
            programs.push_back(&f);
            names += (names.empty() ? "" : ", ") + Shown(f.name);
        }
    }
    if (programs.empty())
        return "the cabinet installs no program (.exe)";
    if (programs.size() > 1)
        return "the cabinet installs " + std::to_string(programs.size()) + " programs (" + names +
               "): which one to run is not clear";
    program = programs[0];
    bool fileLinks = false, linked = false;
    for (const auto &l : setup.links) {
        fileLinks = fileLinks || l.type == kLinkToFile;
        linked = linked || (l.type == kLinkToFile && l.target == program->id);
    }
    if (fileLinks && !linked)
        return "the cabinet's shortcuts point at other files than its program " + Shown(program->name);
    return {};
}

// The program's bytes, from the member its file number names.
CabinetProgram ReadProgram(Cabinet &cabinet, const std::map<int, std::size_t> &byNumber,
                           const SetupFile::File &program)
{
    auto member = byNumber.find(program.id);
    if (member == byNumber.end())
        return Refused("the program " + Shown(program.name) + " is file " + std::to_string(program.id) +
                       ", but no member ends in ." + std::string(3 - std::to_string(program.id).size(), '0') +
                       std::to_string(program.id));
    CabinetProgram result;
    result.member = Shown(cabinet.Members()[member->second].name);
    std::string error;
    auto image = cabinet.Read(member->second, kMaxCabinetMember, error);
    if (!image)
        return Refused(result.member + ": " + error);
    if (image->empty())
        return Refused(result.member + ": it is empty, not a program");
    result.bytes = std::move(*image);
    return result;
}

} // namespace

bool IsCabinet(const std::vector<std::uint8_t> &bytes)
{
    return bytes.size() >= 4 && std::memcmp(bytes.data(), "MSCF", 4) == 0;
}

CabinetProgram ProgramInCabinet(const std::vector<std::uint8_t> &bytes)
{
    std::string error;
    if (!CabinetLibraryAvailable(error)) {
        CabinetProgram p = Refused("reading a cabinet needs libmspack (Debian's libmspack0), which cannot be loaded: " +
                                   error);
        p.unavailable = true;
        return p;
    }
    if (bytes.size() > kMaxCabinet)
        return Refused("a cabinet of " + std::to_string(bytes.size()) + " bytes is larger than the " +
                       std::to_string(kMaxCabinet >> 20) + " MiB one may have");
    auto cabinet = Cabinet::Open(bytes, error);
    if (!cabinet)
        return Refused(error);
    std::map<int, std::size_t> byNumber;
    if (!NumberMembers(cabinet->Members(), byNumber, error))
        return Refused(error);
    auto setup = ReadSetup(*cabinet, byNumber, error);
    if (!setup)
        return Refused(error);
    const SetupFile::File *program = nullptr;
    if (std::string why = ProgramOf(*setup, program); !why.empty())
        return Refused(why);
    return ReadProgram(*cabinet, byNumber, *program);
}

} // namespace ceimage
