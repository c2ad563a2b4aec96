// The simulated registry where only the simulator can be asked: its model
// behind the calls, its limits where Wine differs, open handles, injected
// faults. The API contract itself (order, paths, buffers, handles) is the
// conformance checks' (tests/conformance), run on every platform.
#include "tests/device.h"

#include <cstring>

namespace {

using test::Device;

// Names of the subkeys of a key, in enumeration order.
std::vector<std::u16string> EnumKeys(HKEY key)
{
    std::vector<std::u16string> names;
    WCHAR name[300];
    for (DWORD i = 0;; ++i) {
        DWORD len = 300;
        if (coredll::RegEnumKeyExW(key, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, len);
    }
    return names;
}

TEST(SimRegistry, NamesCompareWithoutCaseAndKeepTheirCase)
{
    Device d;
    d.Key("Drivers\\Active\\MiXed");
    HKEY key;
    ASSERT_EQ(coredll::RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"DRIVERS\\active\\mixed", 0, 0, &key), ERROR_SUCCESS);
    coredll::RegCloseKey(key);
    HKEY parent;
    ASSERT_EQ(coredll::RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"drivers\\ACTIVE", 0, 0, &parent), ERROR_SUCCESS);
    EXPECT_EQ(EnumKeys(parent), (std::vector<std::u16string>{u"MiXed"}));
    coredll::RegCloseKey(parent);

    ASSERT_EQ(coredll::RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"T", 0, nullptr, 0, 0, nullptr, &key, nullptr), ERROR_SUCCESS);
    DWORD one = 1, two = 2;
    ASSERT_EQ(coredll::RegSetValueExW(key, u"Port", 0, REG_DWORD, reinterpret_cast<BYTE *>(&one), 4), ERROR_SUCCESS);
    ASSERT_EQ(coredll::RegSetValueExW(key, u"PORT", 0, REG_DWORD, reinterpret_cast<BYTE *>(&two), 4), ERROR_SUCCESS);
    coredll::RegCloseKey(key);
    const registry::RegKey *t = d.handheld.registry().FindKey(HKEY_LOCAL_MACHINE, u"t");
    ASSERT_EQ(t->values.size(), 1u);
    EXPECT_EQ(t->values[0].Name(), u"Port");
    EXPECT_EQ(t->values[0].Data().Copy(), test::DwordBytes(2));
}

struct PathCase {
    const char *what;
    std::u16string path;
    LONG open;   // RegOpenKeyExW on HKLM with Drivers\Active present
    LONG create; // RegCreateKeyExW
};
void PrintTo(const PathCase &row, std::ostream *os) { *os << row.what; }

class SimRegistryPaths : public ::testing::TestWithParam<PathCase> {};

TEST_P(SimRegistryPaths, GiveWinesResults)
{
    const PathCase &c = GetParam();
    Device d;
    d.Key("Drivers\\Active");
    HKEY key = reinterpret_cast<HKEY>(1);
    LONG r = coredll::RegOpenKeyExW(HKEY_LOCAL_MACHINE, c.path.c_str(), 0, 0, &key);
    EXPECT_EQ(r, c.open);
    if (r == ERROR_SUCCESS)
        coredll::RegCloseKey(key);
    else
        EXPECT_EQ(coredll::GetLastError(), static_cast<DWORD>(r));
    r = coredll::RegCreateKeyExW(HKEY_LOCAL_MACHINE, c.path.c_str(), 0, nullptr, 0, 0, nullptr, &key, nullptr);
    EXPECT_EQ(r, c.create);
    if (r == ERROR_SUCCESS)
        coredll::RegCloseKey(key);
    EXPECT_EQ(d.handheld.registry().OpenHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, SimRegistryPaths,
    ::testing::Values(
        // The rest of the path rules are conformance checks, run on every
        // platform; these are where the handheld's limit shows (Wine
        // accepts 256 characters), with the handles all closed afterwards.
        PathCase{"Component255", u"Drivers\\" + std::u16string(255, u'n'), ERROR_FILE_NOT_FOUND, ERROR_SUCCESS},
        PathCase{"Component256", u"Drivers\\" + std::u16string(256, u'n'), ERROR_INVALID_PARAMETER,
                 ERROR_INVALID_PARAMETER}),
    [](const auto &info) { return std::string(info.param.what); });

TEST(SimRegistry, CreateReportsWhetherTheKeyIsNew)
{
    Device d;
    HKEY key;
    DWORD disposition = 0;
    ASSERT_EQ(coredll::RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"ExtModems", 0, nullptr, 0, 0, nullptr, &key, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    coredll::RegCloseKey(key);
    ASSERT_EQ(coredll::RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"ExtModems", 0, nullptr, 0, 0, nullptr, &key, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    coredll::RegCloseKey(key);
}

TEST(SimRegistry, EnumKeyClassMustFitToo)
{
    Device d;
    HKEY key, sub;
    WCHAR cls[] = u"abcdefgh";
    ASSERT_EQ(coredll::RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"T\\k", 0, cls, 0, 0, nullptr, &sub, nullptr), ERROR_SUCCESS);
    coredll::RegCloseKey(sub);
    ASSERT_EQ(coredll::RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"T", 0, 0, &key), ERROR_SUCCESS);
    WCHAR name[16] = {0x7777}, got[16];
    DWORD len = 16, clsLen = 8;
    EXPECT_EQ(coredll::RegEnumKeyExW(key, 0, name, &len, nullptr, got, &clsLen, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(name[0], 0x7777);
    clsLen = 9;
    EXPECT_EQ(coredll::RegEnumKeyExW(key, 0, name, &len, nullptr, got, &clsLen, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(got), u"abcdefgh");
    EXPECT_EQ(clsLen, 8u);
    coredll::RegCloseKey(key);
}

// Like NT, an unterminated string gets a terminator when there is room,
// outside the size reported.
TEST(SimRegistry, EnumValueTerminatesStringsWhenThereIsRoom)
{
    Device d;
    d.Raw("T", "a", REG_SZ, test::Utf16("COM", false));
    HKEY key;
    ASSERT_EQ(coredll::RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"T", 0, 0, &key), ERROR_SUCCESS);
    for (DWORD cap : {6u, 7u, 8u}) {
        WCHAR name[4];
        BYTE data[10];
        std::fill(std::begin(data), std::end(data), 0xA5);
        DWORD nameLen = 4, dataLen = cap;
        ASSERT_EQ(coredll::RegEnumValueW(key, 0, name, &nameLen, nullptr, nullptr, data, &dataLen), ERROR_SUCCESS);
        EXPECT_EQ(dataLen, 6u);
        EXPECT_EQ(data[6], cap >= 8 ? 0 : 0xA5) << cap;
    }
    coredll::RegCloseKey(key);
}

TEST(SimRegistry, ValuesAreKeptAsWrittenWithTheirType)
{
    Device d;
    HKEY key;
    ASSERT_EQ(coredll::RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"T", 0, nullptr, 0, 0, nullptr, &key, nullptr), ERROR_SUCCESS);
    const BYTE odd[] = {'C', 0, 'O'};
    ASSERT_EQ(coredll::RegSetValueExW(key, u"odd", 0, REG_SZ, odd, 3), ERROR_SUCCESS);
    ASSERT_EQ(coredll::RegSetValueExW(key, nullptr, 0, 0x12345678, nullptr, 0), ERROR_SUCCESS);
    coredll::RegCloseKey(key);
    EXPECT_EQ(d.Value("T", "odd")->Data().Copy(), (std::vector<BYTE>{'C', 0, 'O'}));
    EXPECT_EQ(d.Value("T", "")->type, 0x12345678u);
}

// A value written again and again holds no more memory than its largest
// data: data that fits is written over the old, and data that needs a
// larger place of its own gives the old one back.
TEST(SimRegistry, RewrittenValuesKeepOnePlace)
{
    const size_t kMiB = 1 << 20;
    const struct {
        const char *what;
        std::vector<size_t> sizes; // written in turn, round after round
    } cases[] = {
        {"4 and 2 MiB in turn", {4 * kMiB, 2 * kMiB}},
        {"2 and 4 MiB in turn", {2 * kMiB, 4 * kMiB}},
        {"growing to 8 MiB", {kMiB, 2 * kMiB, 3 * kMiB, 5 * kMiB, 8 * kMiB}},
        {"N-1, N, N+1 bytes", {99, 100, 101}},
        {"the same 100 bytes", {100}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Device d;
        HKEY key;
        ASSERT_EQ(coredll::RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"T", 0, nullptr, 0, 0, nullptr, &key, nullptr), ERROR_SUCCESS);
        size_t afterFirstRound = 0;
        std::vector<BYTE> data;
        for (int round = 0; round < 20; ++round) {
            for (size_t size : c.sizes) {
                data.assign(size, static_cast<BYTE>(round + size));
                ASSERT_EQ(coredll::RegSetValueExW(key, u"v", 0, REG_BINARY, data.data(), static_cast<DWORD>(size)), ERROR_SUCCESS);
            }
            if (round == 0)
                afterFirstRound = d.handheld.registry().tree().Held();
        }
        coredll::RegCloseKey(key);
        EXPECT_EQ(d.handheld.registry().tree().Held(), afterFirstRound);
        EXPECT_EQ(d.Value("T", "v")->Data().Copy(), data);
    }
}

TEST(SimRegistry, DeletedKeysAndClosedHandles)
{
    Device d;
    // A bogus handle is a conformance check; a key deleted under an open
    // handle is made through the simulator's model.
    EXPECT_EQ(coredll::RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);

    HKEY key;
    ASSERT_EQ(coredll::RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"T\\U", 0, nullptr, 0, 0, nullptr, &key, nullptr), ERROR_SUCCESS);
    d.handheld.registry().DeleteKey(HKEY_LOCAL_MACHINE, u"T");
    DWORD v = 1;
    EXPECT_EQ(coredll::RegSetValueExW(key, u"x", 0, REG_DWORD, reinterpret_cast<BYTE *>(&v), 4), ERROR_KEY_DELETED);
    EXPECT_EQ(coredll::RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(coredll::RegCloseKey(key), ERROR_INVALID_HANDLE);
}

TEST(SimRegistry, InjectedFaultsMatchTheirItemOnly)
{
    Device d;
    d.Fail(sim::Operation::RegSetValueExW, "port", ERROR_WRITE_PROTECT);
    HKEY key;
    ASSERT_EQ(coredll::RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"T", 0, nullptr, 0, 0, nullptr, &key, nullptr), ERROR_SUCCESS);
    DWORD v = 1;
    EXPECT_EQ(coredll::RegSetValueExW(key, u"Port", 0, REG_DWORD, reinterpret_cast<BYTE *>(&v), 4), ERROR_WRITE_PROTECT);
    EXPECT_EQ(coredll::GetLastError(), static_cast<DWORD>(ERROR_WRITE_PROTECT));
    EXPECT_EQ(coredll::RegSetValueExW(key, u"Other", 0, REG_DWORD, reinterpret_cast<BYTE *>(&v), 4), ERROR_SUCCESS);
    coredll::RegCloseKey(key);
}

} // namespace
