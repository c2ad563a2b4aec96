// The handheld's own image, run on the emulated processor, against the
// program built into the test: the same inputs, registry and injected
// faults must give the same exit code, message boxes, dialog events,
// registry calls with their arguments and registry, whether the image is loaded at its base or elsewhere (which
// puts its base relocations to work). The installation cabinet gives the
// image itself, and damaged or misleading cabinets are refused.
#include "tests/device.h"
#include "regfile/regfile.h"
#include "res/resource.h"
#include "ceimage/cab_installer.h"
#include "ceimage/coredll_served.h"
#include "ceimage/run_image.h"
#include "app/winmain.h"

#include <fstream>
#include <functional>
#include <iterator>

namespace {

using sim::DialogInput;

std::optional<std::vector<std::uint8_t>> FileBytes(const char *path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    return std::vector<std::uint8_t>{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::optional<ceimage::PeImage> TheImage()
{
    auto file = FileBytes(SAMBREL_WINCE_IMAGE);
    if (!file)
        return std::nullopt;
    const std::vector<std::uint8_t> &bytes = *file;
    std::string error;
    auto image = ceimage::ReadPeImage(bytes, error);
    EXPECT_TRUE(image) << error;
    return image;
}

struct Case {
    const char *name;
    std::vector<DialogInput> inputs;
    std::vector<std::pair<std::string, std::string>> drivers; // Drivers\Active entry, its port
    std::vector<sim::Fault> faults;
};

struct Outcome {
    int result = 0;
    std::vector<std::string> messages;
    std::vector<std::string> events;
    std::string registry;
    std::vector<std::string> calls;
    size_t openHandles = 0;
};

void Prepare(sim::Handheld &h, const Case &c)
{
    for (const auto &[entry, port] : c.drivers)
        h.registry().SetValue(HKEY_LOCAL_MACHINE, text::U16("Drivers\\Active\\" + entry), u"Name", REG_SZ,
                              test::Utf16(port));
    for (const auto &f : c.faults)
        h.faults().Add(f);
}

Outcome Observe(const sim::Handheld &h, int result)
{
    Outcome o;
    o.result = result;
    for (const auto &m : h.messages())
        o.messages.push_back(text::Utf8(m.caption) + "|" + text::Utf8(m.text) + "|" + std::to_string(m.flags));
    for (const auto &e : h.events())
        o.events.push_back(std::to_string(e.kind) + ":" + std::to_string(e.value) + ":" +
                           std::to_string(reinterpret_cast<UINT_PTR>(e.window)));
    std::string error;
    regfile::Save(h.registry().tree(), regfile::Format{}, o.registry, error);
    o.openHandles = h.registry().OpenHandleCount();
    o.calls = h.calls();
    return o;
}

Outcome Native(const Case &c)
{
    sim::ScriptedUser user(c.inputs);
    sim::Handheld h(sim::kProgramResources, sim::kProgramResourcesSize, user);
    Prepare(h, c);
    sim::Handheld::Attach attach(h);
    WCHAR commandLine[] = u"";
    int result = WinMain(h.Instance(), nullptr, commandLine, 1);
    return Observe(h, result);
}

Outcome OnImage(const ceimage::PeImage &image, const Case &c, std::uint32_t loadAddress)
{
    sim::ScriptedUser user(c.inputs);
    sim::Handheld h(ceimage::ResourcesOf(image), user);
    Prepare(h, c);
    sim::Handheld::Attach attach(h);
    ceimage::RunOptions options;
    options.loadAddress = loadAddress;
    int result = ceimage::RunImage(image, options).exitCode;
    return Observe(h, result);
}

TEST(ImageRun, AgreesWithTheProgramBuiltIn)
{
    auto image = TheImage();
    if (!image)
        GTEST_SKIP() << SAMBREL_WINCE_IMAGE << " is not built: cmake --preset wince && cmake --build --preset wince";

    const DialogInput autoscan{DialogInput::Click, IDC_AUTOSCAN}, com3{DialogInput::Click, IDC_COM3};
    const std::vector<std::pair<std::string, std::string>> busy = {
        {"05", "COM5:"}, {"06", "COM6:"}, {"07", "COM7:"}, {"08", "COM8:"}, {"09", "COM9:"}};
    const Case cases[] = {
        {"autoscan", {autoscan}, {{"01", "COM1:"}}, {}},
        {"com3", {com3}, {{"03", "COM3:"}}, {}},
        {"cancel", {{DialogInput::Click, IDCANCEL}}, {}, {}},
        {"enter", {{DialogInput::Enter}}, {}, {}},
        {"escape", {{DialogInput::Escape}}, {}, {}},
        {"close", {{DialogInput::Close}}, {}, {}},
        {"click beside the buttons", {{DialogInput::Click, 1234}, autoscan}, {}, {}},
        {"user walks away", {}, {}, {}},
        {"all busy", {autoscan}, busy, {}},
        {"port write fails", {com3}, {}, {{sim::Operation::RegSetValueExW, u"Port", ERROR_WRITE_PROTECT, std::nullopt}}},
        {"drivers cannot be opened", {autoscan}, {}, {{sim::Operation::RegOpenKeyExW, u"Drivers\\Active", ERROR_FILE_NOT_FOUND, std::nullopt}}},
        {"last error apart from the result", {autoscan}, {}, {{sim::Operation::RegOpenKeyExW, u"ExtModems", ERROR_FILE_NOT_FOUND, 0x80070005u}}},
        {"IR cannot be created", {autoscan}, {}, {{sim::Operation::RegCreateKeyExW, u"IR", ERROR_ACCESS_DENIED, std::nullopt}}},
        {"no dialog resource", {com3}, {}, {{sim::Operation::FindResourceW, u"QUESTIONDIALOG", ERROR_RESOURCE_NAME_NOT_FOUND, std::nullopt}}},
        {"resource does not load", {com3}, {}, {{sim::Operation::LoadResource, std::nullopt, ERROR_INVALID_HANDLE, std::nullopt}}},
        {"dialog fails", {com3}, {}, {{sim::Operation::DialogBoxIndirectParamW, std::nullopt, ERROR_NOT_ENOUGH_MEMORY, std::nullopt}}},
        {"message box fails", {com3}, {}, {{sim::Operation::MessageBoxW, std::nullopt, ERROR_NOT_ENOUGH_MEMORY, std::nullopt}}},
        {"dialog does not end", {com3, autoscan}, {}, {{sim::Operation::EndDialog, std::nullopt, ERROR_INVALID_PARAMETER, std::nullopt}}},
    };
    for (const Case &c : cases) {
        Outcome want = Native(c);
        for (std::uint32_t at : {0u, 0x00400000u}) {
            SCOPED_TRACE(std::string(c.name) + (at ? " (loaded elsewhere)" : ""));
            Outcome got = OnImage(*image, c, at);
            EXPECT_EQ(got.result, want.result);
            EXPECT_EQ(got.messages, want.messages);
            EXPECT_EQ(got.events, want.events);
            EXPECT_EQ(got.registry, want.registry);
            EXPECT_EQ(got.calls, want.calls);
            EXPECT_EQ(got.openHandles, 0u);
        }
    }
}

// A Windows CE installation cabinet made here as the format is publicly
// described (cabextract's "Windows CE installation cabinet" notes and the
// Microsoft cabinet format), not by the project's own writer: an
// uncompressed cabinet whose setup file (.000) installs the members named
// by their file numbers.
struct SetupFields {
    struct File {
        std::uint16_t id, dir;
        std::string name;
    };
    struct Link {
        std::uint16_t base, target, type;
        std::vector<std::uint16_t> path;
    };
    std::uint32_t architecture = 2577; // StrongARM
    std::string app = "Test", provider = "Tester";
    std::vector<std::pair<std::uint16_t, std::string>> strings = {{1, "%CE1%"}, {2, "Test"}};
    std::vector<std::pair<std::uint16_t, std::vector<std::uint16_t>>> dirs = {{1, {1, 2}}};
    std::vector<File> files = {{1, 1, "test.exe"}};
    std::vector<std::vector<std::uint8_t>> regKeys; // each entry's data
    std::vector<Link> links = {{11, 1, 1, {2}}};
};

void Put16(std::vector<std::uint8_t> &b, std::uint32_t v)
{
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(std::vector<std::uint8_t> &b, std::uint32_t v)
{
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}
void At32(std::vector<std::uint8_t> &b, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; i++)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void At16(std::vector<std::uint8_t> &b, std::size_t at, std::uint16_t v)
{
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void PutText(std::vector<std::uint8_t> &b, const std::string &t)
{
    b.insert(b.end(), t.begin(), t.end());
    b.push_back(0);
}
void PutPath(std::vector<std::uint8_t> &b, const std::vector<std::uint16_t> &path)
{
    Put16(b, static_cast<std::uint32_t>(2 * path.size() + 2));
    for (std::uint16_t id : path)
        Put16(b, id);
    Put16(b, 0);
}

// The header is 100 bytes: at 8 the file's length, at 20 the processor, at
// 24 and 28 the lowest system version, from 48 six section counts, from 60
// six section offsets (STRINGS, DIRS, FILES, REGHIVES, REGKEYS, LINKS), from
// 84 the name's, the provider's and the unsupported platforms' offsets and
// lengths.
std::vector<std::uint8_t> SetupBytes(const SetupFields &s)
{
    std::vector<std::uint8_t> b(100, 0);
    std::uint32_t offsets[6];
    At32(b, 0, 0x4543534D);
    At32(b, 16, 1);
    At32(b, 20, s.architecture);
    At32(b, 24, 2);
    At32(b, 28, 10);
    At16(b, 84, static_cast<std::uint16_t>(b.size()));
    At16(b, 86, static_cast<std::uint16_t>(s.app.size() + 1));
    PutText(b, s.app);
    At16(b, 88, static_cast<std::uint16_t>(b.size()));
    At16(b, 90, static_cast<std::uint16_t>(s.provider.size() + 1));
    PutText(b, s.provider);
    offsets[0] = static_cast<std::uint32_t>(b.size());
    for (const auto &[id, text] : s.strings) {
        Put16(b, id);
        Put16(b, static_cast<std::uint32_t>(text.size() + 1));
        PutText(b, text);
    }
    offsets[1] = static_cast<std::uint32_t>(b.size());
    for (const auto &[id, path] : s.dirs) {
        Put16(b, id);
        PutPath(b, path);
    }
    offsets[2] = static_cast<std::uint32_t>(b.size());
    for (const auto &f : s.files) {
        Put16(b, f.id);
        Put16(b, f.dir);
        Put16(b, f.id);
        Put32(b, 0);
        Put16(b, static_cast<std::uint32_t>(f.name.size() + 1));
        PutText(b, f.name);
    }
    offsets[3] = static_cast<std::uint32_t>(b.size());
    if (!s.regKeys.empty()) { // one hive, HKEY_LOCAL_MACHINE\Test
        Put16(b, 1);
        Put16(b, 3);
        Put16(b, 0);
        PutPath(b, {2});
    }
    offsets[4] = static_cast<std::uint32_t>(b.size());
    for (std::size_t i = 0; i < s.regKeys.size(); i++) {
        Put16(b, static_cast<std::uint32_t>(i + 1));
        Put16(b, 1);
        Put16(b, 0);
        Put32(b, 0x00010001); // a DWORD
        Put16(b, static_cast<std::uint32_t>(s.regKeys[i].size()));
        b.insert(b.end(), s.regKeys[i].begin(), s.regKeys[i].end());
    }
    offsets[5] = static_cast<std::uint32_t>(b.size());
    for (std::size_t i = 0; i < s.links.size(); i++) {
        Put16(b, static_cast<std::uint32_t>(i + 1));
        Put16(b, 0);
        Put16(b, s.links[i].base);
        Put16(b, s.links[i].target);
        Put16(b, s.links[i].type);
        PutPath(b, s.links[i].path);
    }
    const std::size_t counts[6] = {s.strings.size(), s.dirs.size(),    s.files.size(),
                                   s.regKeys.empty() ? 0u : 1u, s.regKeys.size(), s.links.size()};
    for (int i = 0; i < 6; i++) {
        At16(b, 48 + 2 * i, static_cast<std::uint16_t>(counts[i]));
        At32(b, 60 + 4 * i, offsets[i]);
    }
    At32(b, 8, static_cast<std::uint32_t>(b.size()));
    return b;
}

struct Member {
    std::string name;
    std::vector<std::uint8_t> data;
    std::optional<std::uint32_t> declared; // a size other than the data's
};

// A cabinet of one uncompressed folder: the 36-byte header, the folder, the
// files (size, offset in the folder, folder, date, time, attributes, name),
// then data blocks of at most 32 KiB without checksums.
std::vector<std::uint8_t> CabinetBytes(const std::vector<Member> &members)
{
    std::vector<std::uint8_t> all;
    for (const auto &m : members)
        all.insert(all.end(), m.data.begin(), m.data.end());
    const std::size_t blocks = (all.size() + 32767) / 32768;
    std::vector<std::uint8_t> files;
    std::uint32_t offset = 0;
    for (const auto &m : members) {
        Put32(files, m.declared.value_or(static_cast<std::uint32_t>(m.data.size())));
        Put32(files, offset);
        Put16(files, 0);
        Put16(files, 0x2821); // 2000-01-01
        Put16(files, 0);
        Put16(files, 0x20);
        PutText(files, m.name);
        offset += static_cast<std::uint32_t>(m.data.size());
    }
    std::vector<std::uint8_t> b;
    const std::uint32_t dataAt = 36 + 8 + static_cast<std::uint32_t>(files.size());
    b.insert(b.end(), {'M', 'S', 'C', 'F'});
    Put32(b, 0);
    Put32(b, static_cast<std::uint32_t>(dataAt + 8 * blocks + all.size()));
    Put32(b, 0);
    Put32(b, 36 + 8);
    Put32(b, 0);
    b.push_back(3);
    b.push_back(1);
    Put16(b, 1);
    Put16(b, static_cast<std::uint32_t>(members.size()));
    Put16(b, 0);
    Put16(b, 0);
    Put16(b, 0);
    Put32(b, dataAt);
    Put16(b, static_cast<std::uint32_t>(blocks));
    Put16(b, 0);
    b.insert(b.end(), files.begin(), files.end());
    for (std::size_t at = 0; at < all.size(); at += 32768) {
        std::size_t n = std::min<std::size_t>(32768, all.size() - at);
        Put32(b, 0);
        Put16(b, static_cast<std::uint32_t>(n));
        Put16(b, static_cast<std::uint32_t>(n));
        b.insert(b.end(), all.begin() + static_cast<std::ptrdiff_t>(at),
                 all.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
    return b;
}

const std::vector<std::uint8_t> kProgram = {'M', 'Z', 0xA5, 0x5A, 'e', 'x', 'e'};

std::vector<std::uint8_t> Installing(const SetupFields &setup,
                                     const std::function<void(std::vector<std::uint8_t> &)> &patch = {})
{
    auto file = SetupBytes(setup);
    if (patch)
        patch(file);
    return CabinetBytes({{"TEST.000", file, std::nullopt}, {"TEST.001", kProgram, std::nullopt}});
}

TEST(Cabinet, GivesTheProgramItInstalls)
{
    SetupFields twoFiles;
    twoFiles.files = {{1, 1, "test.exe"}, {2, 1, "readme.txt"}};
    twoFiles.links = {{11, 1, 1, {2}}, {5, 2, 1, {2}}};
    auto withReadme = SetupBytes(twoFiles);
    SetupFields noLinks;
    noLinks.links.clear();
    SetupFields upper;
    upper.files = {{1, 1, "TEST.EXE"}};
    SetupFields lnkString; // the shortcut named as the file it is, a string of its own
    lnkString.strings.push_back({3, "Test.lnk"});
    lnkString.links = {{11, 1, 1, {3}}};
    SetupFields longestPath; // %CE1%\ and 253 more: the 259 characters a path may have
    longestPath.strings = {{1, "%CE1%"}, {2, std::string(253, 'x')}};
    // Members are decompressed from the start of their folder: the program
    // may end at most where a member may.
    std::vector<std::uint8_t> filler(ceimage::kMaxCabinetMember - kProgram.size() - SetupBytes(SetupFields{}).size(), 0);
    const std::pair<const char *, std::vector<std::uint8_t>> cases[] = {
        {"as described", Installing(SetupFields{})},
        {"a readme beside it, with a shortcut of its own",
         CabinetBytes({{"TEST.000", withReadme, std::nullopt},
                       {"TEST.002", {'r', 'e', 'a', 'd'}, std::nullopt},
                       {"TEST.001", kProgram, std::nullopt}})},
        {"no shortcuts", Installing(noLinks)},
        {"a shortcut .lnk of its own", Installing(lnkString)},
        {"name in capitals", Installing(upper)},
        {"members in another order",
         CabinetBytes({{"TEST.001", kProgram, std::nullopt}, {"TEST.000", SetupBytes(SetupFields{}), std::nullopt}})},
        {"the longest path", Installing(longestPath)},
        {"the program ending where a member may",
         CabinetBytes({{"TEST.000", SetupBytes(SetupFields{}), std::nullopt},
                       {"TEST.002", filler, std::nullopt},
                       {"TEST.001", kProgram, std::nullopt}})},
    };
    for (const auto &[name, cabinet] : cases) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(ceimage::IsCabinet(cabinet));
        auto program = ceimage::ProgramInCabinet(cabinet);
        EXPECT_EQ(program.error, "");
        EXPECT_EQ(program.bytes, kProgram);
        EXPECT_EQ(program.member, "TEST.001");
    }
}

TEST(Cabinet, RefusesDamagedAndMisleadingOnes)
{
    const auto setupLength = SetupBytes(SetupFields{}).size();
    SetupFields noProgram, twoPrograms, elsewhere, registry, mips, unknownString, unknownDir, linkToNothing;
    noProgram.files = {{1, 1, "readme.txt"}};
    noProgram.links.clear();
    twoPrograms.files = {{1, 1, "test.exe"}, {2, 1, "other.exe"}};
    elsewhere.files = {{1, 1, "test.exe"}, {2, 1, "readme.txt"}};
    elsewhere.links = {{11, 2, 1, {2}}};
    registry.regKeys = {{'V', 0, 1, 0, 0, 0}};
    mips.architecture = 4000;
    unknownString.dirs = {{1, {1, 9}}};
    unknownDir.files = {{1, 7, "test.exe"}};
    linkToNothing.links = {{11, 5, 1, {2}}};
    std::vector<std::uint8_t> big(ceimage::kMaxCabinetMember + 1, 0);
    std::vector<std::uint8_t> filler(ceimage::kMaxCabinetMember - kProgram.size() - setupLength + 1, 0);
    SetupFields oddName; // shown with its control and non-ASCII bytes escaped, cut after 60 of them
    oddName.files = {{1, 1, "\x1b\xc3\xa9/" + std::string(57, 'x') + ".exe"}};
    SetupFields tooLongPath; // one character more than a path may have
    tooLongPath.strings = {{1, "%CE1%"}, {2, std::string(254, 'x')}};
    auto whole = Installing(SetupFields{});
    std::vector<std::uint8_t> garbage = {'M', 'S', 'C', 'F'};
    garbage.resize(200, 0xFF);
    struct Refusal {
        const char *name;
        std::vector<std::uint8_t> cabinet;
        std::string words;
    };
    const Refusal cases[] = {
        // The container, as libmspack finds it.
        {"cut in its header", std::vector<std::uint8_t>(whole.begin(), whole.begin() + 20), "the cabinet ends early"},
        {"MSCF, then nonsense", garbage, "an offset in the cabinet points past its end"},
        {"one byte short", std::vector<std::uint8_t>(whole.begin(), whole.end() - 1), "the cabinet ends early"},
        {"no setup file", CabinetBytes({{"TEST.001", kProgram, std::nullopt}}), "no member is a setup file"},
        {"two members numbered 1",
         CabinetBytes({{"TEST.000", SetupBytes(SetupFields{}), std::nullopt},
                       {"TEST.001", kProgram, std::nullopt},
                       {"OTHER.001", kProgram, std::nullopt}}),
         "two members end in .001"},
        {"program member missing", CabinetBytes({{"TEST.000", SetupBytes(SetupFields{}), std::nullopt}}),
         "no member ends in .001"},
        {"a huge declared size",
         CabinetBytes({{"TEST.000", SetupBytes(SetupFields{}), std::nullopt}, {"TEST.001", kProgram, 0x7FFFFFFFu}}),
         "TEST.001: it is 2147483647 bytes"},
        {"a member one byte over the bound",
         CabinetBytes({{"TEST.000", SetupBytes(SetupFields{}), std::nullopt}, {"TEST.001", big, std::nullopt}}),
         "TEST.001: it is 8388609 bytes, more than the 8388608 a member may have"},
        {"the program one byte further into its folder",
         CabinetBytes({{"TEST.000", SetupBytes(SetupFields{}), std::nullopt},
                       {"TEST.002", filler, std::nullopt},
                       {"TEST.001", kProgram, std::nullopt}}),
         "TEST.001: it lies " + std::to_string(setupLength + filler.size()) + " bytes into its folder"},
        // The setup file, read by sambrel.
        {"setup file shorter than its header", CabinetBytes({{"TEST.000", {'M', 'S', 'C', 'E'}, std::nullopt}}),
         "TEST.000: the setup file is damaged: it is 4 bytes, shorter than its header"},
        {"no MSCE", Installing(SetupFields{}, [](auto &b) { b[3] = 'F'; }), "it does not begin with MSCE"},
        {"length one short", Installing(SetupFields{}, [&](auto &b) { At32(b, 8, static_cast<std::uint32_t>(setupLength - 1)); }),
         "its header says " + std::to_string(setupLength - 1) + " bytes"},
        {"length one over", Installing(SetupFields{}, [&](auto &b) { At32(b, 8, static_cast<std::uint32_t>(setupLength + 1)); }),
         "its header says " + std::to_string(setupLength + 1) + " bytes"},
        {"name past its end", Installing(SetupFields{}, [&](auto &b) { At16(b, 84, static_cast<std::uint16_t>(setupLength - 2)); }),
         "the program's name (5 bytes at " + std::to_string(setupLength - 2) + ") is not a terminated string"},
        {"name without its terminator", Installing(SetupFields{}, [](auto &b) { At16(b, 86, 4); }),
         "the program's name (4 bytes at 100)"},
        {"provider longer than the file", Installing(SetupFields{}, [](auto &b) { At16(b, 90, 0xFFFF); }),
         "the provider (65535 bytes"},
        {"DIRS offset past its end", Installing(SetupFields{}, [&](auto &b) { At32(b, 64, static_cast<std::uint32_t>(setupLength + 1)); }),
         "its DIRS section begins at " + std::to_string(setupLength + 1) + ", past its end"},
        {"FILES offset at its very end", Installing(SetupFields{}, [&](auto &b) { At32(b, 68, static_cast<std::uint32_t>(setupLength)); }),
         "its FILES section, entry 1 of 1: runs past the end of the file"},
        {"a string running past its end",
         Installing(SetupFields{}, [](auto &b) {
             std::uint32_t strings = b[60] | b[61] << 8;
             At16(b, strings + 2, 0x7FFF);
         }),
         "its STRINGS section, entry 1 of 2: runs past the end of the file"},
        {"more strings than there are", Installing(SetupFields{}, [](auto &b) { At16(b, 48, 60000); }),
         "its STRINGS section, entry 3 of 60000"},
        {"a folder of an unknown string", Installing(unknownString), "its path names string 9, which there is not"},
        {"a file in an unknown folder", Installing(unknownDir), "it goes to folder 7, which there is not"},
        {"a shortcut to no file", Installing(linkToNothing), "it points at file 5, which there is not"},
        {"a name not plain, escaped and cut", Installing(oddName),
         "its name \\x1b\\xc3\\xa9/" + std::string(56, 'x') + "... is not a plain file name"},
        {"a path one character too long", Installing(tooLongPath),
         "its path is longer than the 259 characters a handheld's path may have"},
        {"no program", Installing(noProgram), "the cabinet installs no program (.exe)"},
        {"two programs", Installing(twoPrograms), "installs 2 programs (test.exe, other.exe)"},
        {"the shortcut to another file", Installing(elsewhere), "shortcuts point at other files than its program test.exe"},
        {"registry entries", Installing(registry), "makes registry entries (1)"},
        {"another processor", Installing(mips), "for processor 4000, not an ARM handheld"},
    };
    for (const Refusal &c : cases) {
        SCOPED_TRACE(c.name);
        auto program = ceimage::ProgramInCabinet(c.cabinet);
        EXPECT_NE(program.error.find(c.words), std::string::npos) << program.error;
        EXPECT_TRUE(program.bytes.empty());
        EXPECT_FALSE(program.unavailable);
    }
}

// The cabinet the wince preset builds installs exactly the image it built.
TEST(Cabinet, TheBuiltCabinetInstallsTheBuiltImage)
{
    auto cabinet = FileBytes(SAMBREL_WINCE_CABINET);
    auto image = FileBytes(SAMBREL_WINCE_IMAGE);
    if (!cabinet || !image)
        GTEST_SKIP() << SAMBREL_WINCE_CABINET << " is not built: cmake --preset wince && cmake --build --preset wince";
    auto program = ceimage::ProgramInCabinet(*cabinet);
    EXPECT_EQ(program.error, "");
    EXPECT_EQ(program.member, "SAMBREL.001");
    EXPECT_EQ(program.bytes, *image);
}

enum Ordinal : std::uint16_t { // the core library's, by name, from its table
#define COREDLL_OPERATION(ordinal, name, ...) k##name = ordinal,
#include "platform/coredll_operations.h"
};

// One core-library call made by a guest as a hostile image would make it:
// the arguments in r0 to r3 and on the stack, its buffers where the test
// puts them in a data region whose end is the end of mapped memory.
class GuestCall {
public:
    static constexpr std::uint32_t kCode = 0x00010000, kStackTop = 0x00100000;
    static constexpr std::uint32_t kData = 0x01000000;

    GuestCall(sim::Handheld &handheld, std::uint32_t dataSize)
        : machine_(ceimage::Cpu::Sa1110, 1'000'000'000), module_{&image_, kCode}, dataEnd_(kData + dataSize)
    {
        (void)handheld; // the calls reach the handheld attached to this thread
        machine_.Map(kCode, 0x1000, ceimage::Machine::Read | ceimage::Machine::Execute);
        machine_.Map(kStackTop - 0x10000, 0x10000, ceimage::Machine::Read | ceimage::Machine::Write);
        machine_.Map(kData, dataSize, ceimage::Machine::Read | ceimage::Machine::Write);
        machine_.OnTrap([this](ceimage::Machine &m, std::uint16_t ordinal) { ceimage::ServeCoredll(m, module_, ordinal); });
    }
    ceimage::Machine &machine() { return machine_; }
    std::uint32_t end() const { return dataEnd_; }
    void Put(std::uint32_t at, const std::vector<BYTE> &bytes) { machine_.Load(at, bytes); }
    void PutWord(std::uint32_t at, std::uint32_t word) { Put(at, test::DwordBytes(word)); }
    std::uint32_t Word(std::uint32_t at) { return machine_.ReadWord(at, "the test"); }
    std::vector<BYTE> Bytes(std::uint32_t at, std::uint32_t n) { return machine_.ReadBytes(at, n, "the test"); }

    // Calls the ordinal's import as the guest does (ldr pc through the
    // slot), and gives r0 afterwards.
    std::uint32_t Call(std::uint16_t ordinal, const std::vector<std::uint32_t> &args)
    {
        Put(kCode, {0x04, 0xF0, 0x1F, 0xE5}); // ldr pc, [pc, #-4]
        machine_.LoadWord(kCode + 4, machine_.TrapAddress(ordinal));
        std::uint32_t sp = kStackTop - 0x100;
        for (size_t i = 4; i < args.size(); ++i)
            PutWord(sp + 4 * static_cast<std::uint32_t>(i - 4), args[i]);
        machine_.SetStackPointer(sp);
        std::vector<std::uint32_t> registers(args.begin(), args.begin() + static_cast<long>(std::min<size_t>(4, args.size())));
        return machine_.Call(kCode, registers);
    }

private:
    ceimage::PeImage image_;
    ceimage::Machine machine_;
    ceimage::Module module_;
    std::uint32_t dataEnd_;
};

constexpr std::uint32_t kHklm = 0x80000002u;
constexpr std::uint32_t kMoreData = 234;

// A value's data enumerated into a buffer that ends where the guest's
// memory ends, whatever size the guest claims: it is copied when it fits
// (N-1, N), and otherwise the call asks for more room (N+1, and a value
// larger than any host buffer) without a byte written past the buffer; a
// failing call leaves the guest's sizes as they were.
TEST(ServedCalls, EnumeratedDataFitsTheGuestsBuffer)
{
    const std::uint32_t kBuffer = 64;
    const struct {
        const char *what;
        std::uint32_t valueSize, claimed;
        std::uint32_t key;
        std::uint32_t result, size;
    } cases[] = {
        {"N-1, 4 GiB claimed", kBuffer - 1, 0xFFFFFFFFu, kHklm, ERROR_SUCCESS, kBuffer - 1},
        {"N, 4 GiB claimed", kBuffer, 0xFFFFFFFFu, kHklm, ERROR_SUCCESS, kBuffer},
        {"N+1, 4 GiB claimed", kBuffer + 1, 0xFFFFFFFFu, kHklm, kMoreData, kBuffer + 1},
        {"N+1, N claimed", kBuffer + 1, kBuffer, kHklm, kMoreData, kBuffer + 1},
        {"17 MB, 4 GiB claimed", 17'000'000, 0xFFFFFFFFu, kHklm, kMoreData, 17'000'000},
        {"bad handle, 4 GiB claimed", kBuffer, 0xFFFFFFFFu, 0x1234, ERROR_INVALID_HANDLE, 0xFFFFFFFFu},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        sim::ScriptedUser user;
        sim::Handheld h(sim::Resources(), user);
        sim::Handheld::Attach attach(h);
        std::vector<BYTE> value(c.valueSize);
        for (size_t i = 0; i < value.size(); ++i)
            value[i] = static_cast<BYTE>(i * 7 + 1);
        h.registry().SetValue(HKEY_LOCAL_MACHINE, u"", u"v", REG_BINARY, value);

        GuestCall g(h, 0x1000);
        const std::uint32_t data = g.end() - kBuffer, name = GuestCall::kData, cch = name + 32,
                            type = cch + 4, cb = type + 4, before = data - 4;
        g.PutWord(cch, 0xFFFFFFFFu);
        g.PutWord(cb, c.claimed);
        g.PutWord(before, 0xA5A5A5A5u);
        g.Put(data, std::vector<BYTE>(kBuffer, 0xEE));
        std::uint32_t r = 0;
        ASSERT_NO_THROW(r = g.Call(kRegEnumValueW, {c.key, 0, name, cch, 0, type, data, cb}));
        EXPECT_EQ(r, c.result);
        EXPECT_EQ(g.Word(cb), c.size);
        EXPECT_EQ(g.Word(before), 0xA5A5A5A5u);
        std::vector<BYTE> got = g.Bytes(data, kBuffer);
        if (r == ERROR_SUCCESS)
            EXPECT_TRUE(std::equal(value.begin(), value.end(), got.begin()));
        else
            EXPECT_EQ(got, std::vector<BYTE>(kBuffer, 0xEE));
    }
}

// Data the guest writes is read as far as the host takes it (16 MiB) and
// its memory holds it, and the registry gets exactly what was read: a
// larger size ends the run instead.
TEST(ServedCalls, WrittenDataIsWhatTheHostRead)
{
    const std::uint32_t kLargest = 16u << 20;
    const struct {
        const char *what;
        std::uint32_t size;
        bool faults;
    } cases[] = {
        {"N-1", kLargest - 1, false},
        {"N", kLargest, false},
        {"N+1", kLargest + 1, true},
        {"4 GiB", 0xFFFFFFFFu, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        sim::ScriptedUser user;
        sim::Handheld h(sim::Resources(), user);
        sim::Handheld::Attach attach(h);
        GuestCall g(h, kLargest + 0x10000);
        g.Put(GuestCall::kData, test::Utf16("v"));
        const std::uint32_t data = GuestCall::kData + 0x100;
        if (c.faults) {
            EXPECT_THROW(g.Call(kRegSetValueExW, {kHklm, GuestCall::kData, 0, REG_BINARY, data, c.size}), ceimage::Fault);
            EXPECT_EQ(h.registry().FindValue(HKEY_LOCAL_MACHINE, u"", u"v"), nullptr);
        } else {
            EXPECT_EQ(g.Call(kRegSetValueExW, {kHklm, GuestCall::kData, 0, REG_BINARY, data, c.size}), ERROR_SUCCESS);
            const registry::RegValue *v = h.registry().FindValue(HKEY_LOCAL_MACHINE, u"", u"v");
            ASSERT_NE(v, nullptr);
            EXPECT_EQ(v->Data().size(), c.size);
        }
    }
}

} // namespace
