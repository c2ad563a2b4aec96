// Which ports the registry says are in use, and the first free one.
#include "tests/device.h"
#include "ports/ports.h"

#include <climits>

namespace {

using test::Device;
using test::Utf16;

struct Val {
    std::string entry;
    std::string name;
    DWORD type;
    std::vector<BYTE> data;
};

Val Sz(const std::string &entry, const std::string &name, const std::string &text)
{
    return {entry, name, REG_SZ, Utf16(text)};
}

void Fill(Device &d, const std::string &root, const std::vector<Val> &values)
{
    d.Key(root);
    for (const auto &v : values)
        d.Raw(root + "\\" + v.entry, v.name, v.type, v.data);
}

std::vector<BYTE> Bytes(std::vector<BYTE> b) { return b; }

struct ScanCase {
    const char *what;
    std::vector<Val> values;
    ComPortMask drivers;  // from Drivers\Active
    ComPortMask modems;   // the same values under ExtModems
};
void PrintTo(const ScanCase &row, std::ostream *os) { *os << row.what; }

class ScanRules : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ScanRules, MarkTheNamedPorts)
{
    const ScanCase &c = GetParam();
    Device drivers;
    Fill(drivers, "Drivers\\Active", c.values);
    EXPECT_EQ(ScanActiveDrivers(), c.drivers) << "Drivers\\Active";
    EXPECT_EQ(drivers.handheld.registry().OpenHandleCount(), 0u);

    Device modems;
    Fill(modems, "ExtModems", c.values);
    EXPECT_EQ(ScanExtModems(), c.modems) << "ExtModems";
    EXPECT_TRUE(modems.handheld.messages().empty());
}

const std::string kFriendly = "Quelm Phone on Infrared port";
const std::string k80Bytes(40, 'x');

// "COM7:" as REG_MULTI_SZ, then an empty REG_SZ in the same entry.
std::vector<Val> MultiThenEmpty()
{
    return {{"e", "a", REG_MULTI_SZ, Utf16(std::string("COM7:") + '\0')}, {"e", "b", REG_SZ, {}}};
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScanRules,
    ::testing::Values(
        ScanCase{"EmptyRoot", {}, 0, 0},
        ScanCase{"DriverName", {Sz("01", "Name", "COM3:")}, 1u << 3, 1u << 3},
        ScanCase{"AnyValueName", {Sz("01", "Whatever", "COM1:")}, 1u << 1, 1u << 1},
        ScanCase{"LowerCase", {Sz("01", "Name", "com3:")}, 0, 0},
        ScanCase{"MultiSz", {{"01", "Name", REG_MULTI_SZ, Utf16(std::string("COM3:") + '\0')}}, 0, 0},
        ScanCase{"ExpandSz", {{"01", "Name", REG_EXPAND_SZ, Utf16("COM3:")}}, 0, 0},
        ScanCase{"ExactlyCom", {Sz("01", "Name", "COM")}, 0, 0},
        ScanCase{"OneDigitOnly", {Sz("01", "a", "COM12:")}, 1u << 1, 1u << 1},
        ScanCase{"ColonIsTen", {Sz("01", "a", "COM:")}, 1u << 10, 1u << 10},
        ScanCase{"QuestionMarkIsFifteen", {Sz("01", "a", "COM?")}, 1u << 15, 1u << 15},
        ScanCase{"AtSignIsNothing", {Sz("01", "a", "COM@")}, 0, 0},
        ScanCase{"SlashIsNothing", {Sz("01", "a", "COM/")}, 0, 0},
        // Only the low byte of the fourth character counts: U+0135 reads as '5'.
        ScanCase{"HighByteIgnored", {{"01", "a", REG_SZ, Bytes({'C', 0, 'O', 0, 'M', 0, 0x35, 0x01, 0, 0})}},
                 1u << 5, 1u << 5},
        ScanCase{"SignedLowByte", {{"01", "a", REG_SZ, Bytes({'C', 0, 'O', 0, 'M', 0, 0xB5, 0, 0, 0})}}, 0, 0},
        ScanCase{"ModemPort", {Sz("M", "Port", "COM7:")}, 1u << 7, 1u << 7},
        // Names sort without case: "FriendlyName" comes before "Port", "Alpha" before both.
        ScanCase{"FriendlyNameFirstHidesPort",
                 {Sz("IR", "FriendlyName", kFriendly), Sz("IR", "Port", "COM6:")}, 1u << 6, 0},
        ScanCase{"PortFirstIsMarked",
                 {Sz("IR", "Alpha", "COM6:"), Sz("IR", "FriendlyName", kFriendly)}, 1u << 6, 1u << 6},
        ScanCase{"FriendlyNameStopsOnlyItsEntry",
                 {Sz("A", "FriendlyName", kFriendly), Sz("A", "Port", "COM6:"), Sz("B", "Port", "COM8:")},
                 (1u << 6) | (1u << 8), 1u << 8},
        ScanCase{"FriendlyNameIsCaseSensitive",
                 {Sz("IR", "FriendlyName", "quelm phone on infrared port"), Sz("IR", "Port", "COM6:")},
                 1u << 6, 1u << 6},
        ScanCase{"LongDataEndsTheEntry",
                 {{"01", "a", REG_BINARY, {}}, Sz("01", "b", std::string(41, 'x')), Sz("01", "c", "COM4:"),
                  Sz("02", "a", "COM2:")},
                 1u << 2, 1u << 2},
        ScanCase{"EightyBytesFit", {Sz("01", "a", std::string(39, 'x')), Sz("01", "b", "COM4:")},
                 1u << 4, 1u << 4},
        // Mended: data is read exactly as returned.
        ScanCase{"EightyBytesNoTerminator",
                 {{"01", "a", REG_SZ, Utf16("COM8:" + std::string(35, ' '), false)}}, 1u << 8, 1u << 8},
        // An odd size keeps the half character's low byte, which is all the
        // scan reads of the fourth character.
        ScanCase{"OddSizeKeepsHalfCharactersLowByte",
                 {{"01", "a", REG_SZ, Bytes({'C', 0, 'O', 0, 'M', 0, '5'})}}, 1u << 5, 1u << 5},
        ScanCase{"OddSizeAfterALongerValue",
                 {Sz("01", "a", "COM9:xyz"), {"01", "b", REG_SZ, Bytes({'C', 0, 'O', 0, 'M', 0, '6'})}},
                 (1u << 9) | (1u << 6), (1u << 9) | (1u << 6)},
        ScanCase{"OddSizeThreeBytes", {{"01", "a", REG_SZ, Bytes({'C', 0, 'O'})}}, 0, 0},
        ScanCase{"OddSizeAfterWholeText",
                 {{"01", "a", REG_SZ, Bytes({'C', 0, 'O', 0, 'M', 0, '5', 0, 0})}}, 1u << 5, 1u << 5},
        ScanCase{"NoTerminatorComExactly", {{"01", "a", REG_SZ, Utf16("COM", false)}}, 0, 0},
        ScanCase{"MultiSzThenEmptyMarksNothing", MultiThenEmpty(), 0, 0},
        ScanCase{"EarlierDataNotReread",
                 {{"e", "a", REG_BINARY, Utf16("COM9:")}, {"e", "b", REG_SZ, {}}}, 0, 0},
        ScanCase{"NameOf63Fits", {Sz(std::string(63, 'k'), "a", "COM1:")}, 1u << 1, 1u << 1},
        ScanCase{"NameOf64EndsTheLoop", {Sz(std::string(64, 'k'), "a", "COM1:"), Sz("zz", "a", "COM2:")}, 0, 0},
        ScanCase{"ValueNameOf64EndsTheEntry",
                 {Sz("01", std::string(64, 'v'), "x"), Sz("01", "w", "COM2:"), Sz("02", "a", "COM3:")},
                 1u << 3, 1u << 3}),
    [](const auto &info) { return std::string(info.param.what); });

TEST(PortScan, EntriesPastTheHundredthAreNotRead)
{
    Device d;
    char name[8];
    for (int i = 0; i < 101; ++i) {
        std::snprintf(name, sizeof name, "%03d", i);
        d.Sz(std::string("Drivers\\Active\\") + name, "Name", i == 100 ? "COM7:" : "DSK1:");
    }
    for (int j = 0; j < 101; ++j) {
        std::snprintf(name, sizeof name, "v%03d", j);
        d.Sz("ExtModems\\M", name, j == 99 ? "COM6:" : j == 100 ? "COM8:" : "none");
    }
    EXPECT_EQ(ScanActiveDrivers(), 0);
    EXPECT_EQ(ScanExtModems(), 1u << 6);
}

TEST(PortScan, AnEntryThatCannotBeOpenedIsPassedOver)
{
    Device d;
    d.Sz("Drivers\\Active\\01", "Name", "COM1:");
    d.Sz("Drivers\\Active\\02", "Name", "COM2:");
    d.Fail(sim::Operation::RegOpenKeyExW, "01", ERROR_ACCESS_DENIED);
    EXPECT_EQ(ScanActiveDrivers(), 1u << 2);
    EXPECT_TRUE(d.handheld.messages().empty());
}

TEST(PortScan, ARootThatCannotBeOpenedIsReportedAndYieldsNothing)
{
    Device d;
    d.Sz("ExtModems\\M", "Port", "COM5:");
    d.Fail(sim::Operation::RegOpenKeyExW, "ExtModems", ERROR_ACCESS_DENIED);
    EXPECT_EQ(ScanExtModems(), 0);
    EXPECT_MESSAGES(d, ({"#RegOpenKeyEx(): 5"}));
}

TEST(PortScan, EnumerationErrorsEndTheLoopKeepingWhatWasFound)
{
    Device d;
    d.Sz("Drivers\\Active\\01", "Name", "COM1:");
    d.Fail(sim::Operation::RegEnumValueW, "01", ERROR_BADDB);
    d.Sz("Drivers\\Active\\02", "Name", "COM2:");
    EXPECT_EQ(ScanActiveDrivers(), 1u << 2);
}

// The free port: the lowest from the start up to 9 in neither tree.
struct FreeCase {
    const char *what;
    std::vector<int> driverPorts;
    std::vector<int> modemPorts;
    int first;
    int expected;
};
void PrintTo(const FreeCase &row, std::ostream *os) { *os << row.what; }

class FreePort : public ::testing::TestWithParam<FreeCase> {};

TEST_P(FreePort, IsTheLowestUnused)
{
    const FreeCase &c = GetParam();
    Device d;
    d.Key("Drivers\\Active");
    d.Key("ExtModems");
    for (int p : c.driverPorts)
        d.Sz("Drivers\\Active\\d" + std::to_string(p), "Name", std::string("COM") + char('0' + p) + ":");
    for (int p : c.modemPorts)
        d.Sz("ExtModems\\m" + std::to_string(p), "Port", std::string("COM") + char('0' + p) + ":");
    EXPECT_EQ(FindFreeComPort(c.first), c.expected);
    EXPECT_TRUE(d.handheld.messages().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FreePort,
    ::testing::Values(
        FreeCase{"NothingUsed", {}, {}, 5, 5},
        FreeCase{"FiveSixEightUsed", {5, 8}, {6}, 5, 7},
        FreeCase{"AllCandidatesUsed", {5, 6, 7}, {8, 9}, 5, -1},
        FreeCase{"LowAndHighPortsDoNotMatter", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 15}, {}, 5, -1},
        FreeCase{"TenToFifteenFreeIsNoHelp", {5, 6, 7, 8, 9}, {}, 5, -1},
        FreeCase{"StartAtTen", {}, {}, 10, -1},
        FreeCase{"StartAtNine", {}, {}, 9, 9},
        FreeCase{"StartAtZero", {0}, {}, 0, 1},
        FreeCase{"NegativeStartFromZero", {}, {}, -3, 0},
        FreeCase{"MostNegativeStart", {0, 1}, {}, INT_MIN, 2},
        FreeCase{"LargestStart", {}, {}, INT_MAX, -1}),
    [](const auto &info) { return std::string(info.param.what); });

TEST(FreePort, BothScansRunAndReportBeforeTheAnswer)
{
    Device d; // neither tree exists
    EXPECT_EQ(FindFreeComPort(10), -1);
    EXPECT_MESSAGES(d, ({"#RegOpenKeyEx(): 2", "#RegOpenKeyEx(): 2"}));
}

TEST(FreePort, RestsOnTheModemsWhenDriversCannotBeRead)
{
    Device d;
    d.Sz("Drivers\\Active\\d", "Name", "COM5:");
    d.Sz("ExtModems\\m", "Port", "COM6:");
    d.Fail(sim::Operation::RegOpenKeyExW, "Drivers\\Active", ERROR_ACCESS_DENIED);
    EXPECT_EQ(FindFreeComPort(5), 5);
}

} // namespace
