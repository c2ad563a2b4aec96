// One run from WinMain to the exit code: the choice, the IR modem entry it
// writes, every failure and its message.
#include "tests/device.h"
#include "res/resource.h"

namespace {

using sim::DialogInput;
using test::Device;

const char kIr[] = "ExtModems\\IR";
const std::string kFinalCom3 = "Infrared port is now COM3:.  Please, reset (boot) your handheld PC next.";
const std::string kFinalCom5 = "Infrared port is now COM5:.  Please, reset (boot) your handheld PC next.";

void ExpectFullEntry(const Device &d, const std::string &port)
{
    const registry::RegValue *type = d.Value(kIr, "DeviceType");
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type->type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(type->Data().Copy(), test::DwordBytes(1));
    EXPECT_SZ(d, kIr, "Port", port);
    EXPECT_SZ(d, kIr, "FriendlyName", "Quelm Phone on Infrared port");
    EXPECT_EQ(d.Value(kIr, "FriendlyName")->Data().size(), 58u);
}

TEST(SetupSequence, Com3WritesTheEntryAndAsksForAReset)
{
    Device d;
    EXPECT_EQ(d.Choose(IDC_COM3), 1);
    ExpectFullEntry(d, "COM3:");
    EXPECT_EQ(d.Value(kIr, "Port")->Data().size(), 12u);
    EXPECT_MESSAGES(d, ({kFinalCom3}));
    EXPECT_EQ(d.handheld.registry().OpenHandleCount(), 0u);
}

TEST(SetupSequence, Com3IsTakenEvenWhenADriverUsesIt)
{
    Device d;
    d.Sz("Drivers\\Active\\03", "Name", "COM3:");
    EXPECT_EQ(d.Choose(IDC_COM3), 1);
    ExpectFullEntry(d, "COM3:");
}

TEST(SetupSequence, AutoscanTakesTheFirstFreePortFromCom5)
{
    Device d;
    d.Sz("Drivers\\Active\\01", "Name", "COM1:");
    EXPECT_EQ(d.Choose(IDC_AUTOSCAN), 1);
    ExpectFullEntry(d, "COM5:");
    EXPECT_MESSAGES(d, ({kFinalCom5}));
    EXPECT_EQ(d.handheld.registry().OpenHandleCount(), 0u);
}

TEST(SetupSequence, AutoscanWithEveryPortBusyLeavesAnEmptyIrKey)
{
    Device d;
    for (int n = 5; n <= 9; ++n)
        d.Sz("Drivers\\Active\\0" + std::to_string(n), "Name", "COM" + std::to_string(n) + ":");
    EXPECT_EQ(d.Choose(IDC_AUTOSCAN), 0);
    EXPECT_MESSAGES(d, ({"#ERROR: No free COM ports!"}));
    ASSERT_TRUE(d.HasKey(kIr));
    EXPECT_TRUE(d.handheld.registry().FindKey(HKEY_LOCAL_MACHINE, u"ExtModems\\IR")->values.empty());
    EXPECT_EQ(d.handheld.registry().OpenHandleCount(), 0u);
}

TEST(SetupSequence, RunningTwiceOverwritesTheSameEntry)
{
    Device d;
    EXPECT_EQ(d.Choose(IDC_AUTOSCAN), 1);
    d.Sz(kIr, "Extra", "kept");
    EXPECT_EQ(d.Choose(IDC_AUTOSCAN), 1);
    const registry::RegKey *ext = d.handheld.registry().FindKey(HKEY_LOCAL_MACHINE, u"ExtModems");
    ASSERT_NE(ext, nullptr);
    ASSERT_EQ(ext->subkeys.size(), 1u);
    // The scan stops at the entry's own friendly name, which the registry
    // enumerates before its Port, so the entry's COM5: does not count.
    ExpectFullEntry(d, "COM5:");
    EXPECT_SZ(d, kIr, "Extra", "kept");
}

// Leaving the dialog without choosing a port changes nothing.
struct NoChoiceCase {
    const char *what;
    std::vector<DialogInput> inputs;
};
void PrintTo(const NoChoiceCase &row, std::ostream *os) { *os << row.what; }

class LeavingTheDialog : public ::testing::TestWithParam<NoChoiceCase> {};

TEST_P(LeavingTheDialog, ReturnsOneAndChangesNothing)
{
    Device d;
    EXPECT_EQ(d.Run(GetParam().inputs), 1);
    EXPECT_FALSE(d.HasKey("ExtModems"));
    EXPECT_MESSAGES(d, ({}));
}

INSTANTIATE_TEST_SUITE_P(
    Ways, LeavingTheDialog,
    ::testing::Values(NoChoiceCase{"Cancel", {{DialogInput::Click, IDCANCEL}}},
                      NoChoiceCase{"Escape", {{DialogInput::Escape, 0}}},
                      NoChoiceCase{"Close", {{DialogInput::Close, 0}}},
                      NoChoiceCase{"UserWalksAway", {}}),
    [](const auto &info) { return std::string(info.param.what); });

TEST(SetupSequence, ADialogThatFailsToAppearChangesNothing)
{
    Device d;
    d.FailAlways(sim::Operation::DialogBoxIndirectParamW, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(d.Choose(IDC_COM3), 1);
    EXPECT_FALSE(d.HasKey("ExtModems"));
    EXPECT_MESSAGES(d, ({}));
}

// Every failure of the sequence: what is shown, what is left, the exit code.
struct FailureCase {
    const char *what;
    sim::Operation operation;
    const char *item;
    WORD choice;
    std::vector<std::string> messages;
    int exitCode;
    bool extModemsExists;
    bool irExists;
};
void PrintTo(const FailureCase &row, std::ostream *os) { *os << row.what; }

class SequenceFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(SequenceFailure, IsReportedInItsOwnWords)
{
    const FailureCase &c = GetParam();
    Device d;
    d.Sz("Drivers\\Active\\01", "Name", "COM1:");
    d.Fail(c.operation, c.item, ERROR_ACCESS_DENIED);
    EXPECT_EQ(d.Choose(c.choice), c.exitCode);
    EXPECT_MESSAGES(d, (c.messages));
    EXPECT_EQ(d.HasKey("ExtModems"), c.extModemsExists);
    EXPECT_EQ(d.HasKey(kIr), c.irExists);
    EXPECT_EQ(d.handheld.registry().OpenHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SequenceFailure,
    ::testing::Values(
        FailureCase{"ExtModemsKey", sim::Operation::RegCreateKeyExW, "ExtModems", IDC_COM3,
                    {"#RegCreateKeyEx(HKLM/ExtModems) FAILED"}, 0, false, false},
        FailureCase{"IrKey", sim::Operation::RegCreateKeyExW, "IR", IDC_AUTOSCAN,
                    {"#RegCreateKeyEx(/IR) FAILED"}, 0, true, false},
        FailureCase{"DeviceType", sim::Operation::RegSetValueExW, "DeviceType", IDC_COM3,
                    {"#RegSetValueEx(Type) FAILED", kFinalCom3}, 1, true, true},
        FailureCase{"Port", sim::Operation::RegSetValueExW, "Port", IDC_COM3,
                    {"#RegSetValueEx(Port) FAILED", kFinalCom3}, 1, true, true},
        FailureCase{"FriendlyName", sim::Operation::RegSetValueExW, "FriendlyName", IDC_AUTOSCAN,
                    {"#RegSetValueEx(FriendlyName) FAILED", kFinalCom5}, 1, true, true},
        FailureCase{"DriversRoot", sim::Operation::RegOpenKeyExW, "Drivers\\Active", IDC_AUTOSCAN,
                    {"#RegOpenKeyEx(): 5", kFinalCom5}, 1, true, true},
        FailureCase{"ExtModemsRoot", sim::Operation::RegOpenKeyExW, "ExtModems", IDC_AUTOSCAN,
                    {"#RegOpenKeyEx(): 5", kFinalCom5}, 1, true, true}),
    [](const auto &info) { return std::string(info.param.what); });

TEST(SetupSequence, AFailedPortWriteStillWritesTheOtherValues)
{
    Device d;
    d.Fail(sim::Operation::RegSetValueExW, "Port", ERROR_ACCESS_DENIED);
    EXPECT_EQ(d.Choose(IDC_COM3), 1);
    EXPECT_EQ(d.Value(kIr, "Port"), nullptr);
    ASSERT_NE(d.Value(kIr, "DeviceType"), nullptr);
    EXPECT_SZ(d, kIr, "FriendlyName", "Quelm Phone on Infrared port");
}

TEST(SetupSequence, AMissingDriversTreeIsReportedWithTheRealCause)
{
    Device d;
    EXPECT_EQ(d.Choose(IDC_AUTOSCAN), 1);
    EXPECT_MESSAGES(d, ({"#RegOpenKeyEx(): 2", kFinalCom5}));
}

TEST(SetupSequence, TheScansReportBeforeNoFreePort)
{
    Device d;
    d.Fail(sim::Operation::RegOpenKeyExW, "Drivers\\Active", ERROR_ACCESS_DENIED);
    for (int n = 5; n <= 9; ++n)
        d.Sz("ExtModems\\M" + std::to_string(n), "Port", "COM" + std::to_string(n) + ":");
    EXPECT_EQ(d.Choose(IDC_AUTOSCAN), 0);
    EXPECT_MESSAGES(d, ({"#RegOpenKeyEx(): 5", "#ERROR: No free COM ports!"}));
}

TEST(SetupSequence, AMessageBoxThatCannotBeShownIsPassedOver)
{
    Device d;
    d.FailAlways(sim::Operation::MessageBoxW, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(d.Choose(IDC_COM3), 1);
    EXPECT_SZ(d, kIr, "Port", "COM3:");
}

} // namespace

namespace {

using sim::DialogInput;
using test::Device;

// The registry calls of a COM3: run, in order, with their arguments: both
// keys created with an empty class, options and access 0 and no security
// attributes; DeviceType, Port and FriendlyName written in that order with
// their sizes; IR closed before ExtModems.
TEST(SetupSequenceCalls, Com3RunMakesTheseCallsInThisOrder)
{
    Device d;
    ASSERT_EQ(d.Choose(IDC_COM3), 1);
    const std::vector<std::string> expected = {
        "RegCreateKeyExW HKEY_LOCAL_MACHINE\\ExtModems class=\"\" options=0 sam=0 sa=null",
        "RegCreateKeyExW ExtModems\\IR class=\"\" options=0 sam=0 sa=null",
        "RegSetValueExW IR\\DeviceType type=4 size=4",
        "RegSetValueExW IR\\Port type=1 size=12",
        "RegSetValueExW IR\\FriendlyName type=1 size=58",
        "RegCloseKey IR",
        "RegCloseKey ExtModems",
    };
    EXPECT_EQ(d.handheld.calls(), expected);
}

// The message shows the thread's last-error code, not the call's result,
// as a signed number.
TEST(SetupSequenceCalls, ScanFailureShowsTheLastErrorSigned)
{
    Device d;
    sim::Fault fault{sim::Operation::RegOpenKeyExW, u"Drivers\\Active", ERROR_FILE_NOT_FOUND, 0x80070005u};
    d.handheld.faults().Add(fault);
    EXPECT_EQ(d.Choose(IDC_AUTOSCAN), 1);
    EXPECT_EQ(d.Messages().front(), "#RegOpenKeyEx(): -2147024891");
}

// IDOK, should the platform send it, ends the dialog and changes nothing.
TEST(SetupSequenceCalls, IdokChangesNothing)
{
    Device d;
    EXPECT_EQ(d.Run({{DialogInput::Command, IDOK}}), 1);
    EXPECT_FALSE(d.HasKey("ExtModems"));
    EXPECT_TRUE(d.handheld.calls().empty());
}

} // namespace
