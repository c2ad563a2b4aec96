// The handheld's own image, run on the emulated processor, against the
// program built into the test: the same inputs, registry and injected
// faults must give the same exit code, message boxes, dialog events,
// registry calls with their arguments and registry, whether the image is loaded at its base or elsewhere (which
// puts its base relocations to work).
#include "tests/device.h"
#include "regfile/regfile.h"
#include "res/resource.h"
#include "ceimage/coredll_served.h"
#include "ceimage/run_image.h"
#include "app/winmain.h"

#include <fstream>
#include <iterator>

namespace {

using sim::DialogInput;

std::optional<ceimage::PeImage> TheImage()
{
    std::ifstream in(SAMBREL_WINCE_IMAGE, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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
        std::uint32_t trap = machine_.TrapAddress(ordinal);
        Put(kCode, {0x04, 0xF0, 0x1F, 0xE5, // ldr pc, [pc, #-4]
                    static_cast<BYTE>(trap), static_cast<BYTE>(trap >> 8), static_cast<BYTE>(trap >> 16),
                    static_cast<BYTE>(trap >> 24)});
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
        ASSERT_NO_THROW(r = g.Call(459, {c.key, 0, name, cch, 0, type, data, cb}));
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
            EXPECT_THROW(g.Call(464, {kHklm, GuestCall::kData, 0, REG_BINARY, data, c.size}), ceimage::Fault);
            EXPECT_EQ(h.registry().FindValue(HKEY_LOCAL_MACHINE, u"", u"v"), nullptr);
        } else {
            EXPECT_EQ(g.Call(464, {kHklm, GuestCall::kData, 0, REG_BINARY, data, c.size}), ERROR_SUCCESS);
            const sim::RegValue *v = h.registry().FindValue(HKEY_LOCAL_MACHINE, u"", u"v");
            ASSERT_NE(v, nullptr);
            EXPECT_EQ(v->Data().size(), c.size);
        }
    }
}

} // namespace
