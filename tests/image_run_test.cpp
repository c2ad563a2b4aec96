// The handheld's own image, run on the emulated processor, against the
// program built into the test: the same inputs, registry and injected
// faults must give the same exit code, message boxes, dialog events,
// registry calls with their arguments and registry, whether the image is loaded at its base or elsewhere (which
// puts its base relocations to work).
#include "tests/device.h"
#include "regfile/regfile.h"
#include "res/resource.h"
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

} // namespace
