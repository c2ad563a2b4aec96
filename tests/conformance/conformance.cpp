// Conformance checks of the core library's registry, formatter and string
// operations, in the style of Wine's own tests: tables of cases, sentinel
// values around every buffer, the caller's file and line on failure.
#include "tests/conformance/conformance.h"

namespace {

int gPassed, gFailed; // a test program's tally

// Report lines are composed here, not with a C library: the handheld's
// build has none.
struct Line {
    char s[400];
    unsigned n = 0;
    Line &operator<<(const char *text)
    {
        for (; *text && n + 1 < sizeof s; ++text)
            s[n++] = *text;
        s[n] = 0;
        return *this;
    }
    // Decimal by subtraction: the handheld's processor has no divide.
    Line &operator<<(long v)
    {
        unsigned long long mag = v < 0 ? 0ull - (unsigned long long)v : (unsigned long long)v;
        if (v < 0)
            *this << "-";
        bool started = false;
        for (unsigned long long power = 10000000000000000000ull; power > 0; power = Next(power)) {
            char digit = '0';
            while (mag >= power) {
                mag -= power;
                ++digit;
            }
            started = started || digit != '0' || power == 1;
            if (started && n + 1 < sizeof s)
                s[n++] = digit;
        }
        s[n] = 0;
        return *this;
    }
    // The next lower power of ten.
    static unsigned long long Next(unsigned long long power)
    {
        unsigned long long next = 1;
        while (next * 10 < power)
            next *= 10;
        return power == 1 ? 0 : next;
    }
};

void Check(bool ok, const char *file, int line, const char *what, long got = 0, long want = 0)
{
    if (ok) {
        ++gPassed;
        return;
    }
    ++gFailed;
    Line text;
    text << "FAIL " << file << ":" << (long)line << ": " << what << " (got " << got << ", expected " << want << ")";
    ConformanceReport(text.s);
}

unsigned long Length(const char *text)
{
    unsigned long n = 0;
    while (text[n])
        ++n;
    return n;
}

void Fill(void *p, int c, unsigned long n)
{
    for (unsigned long i = 0; i < n; ++i)
        ((unsigned char *)p)[i] = (unsigned char)c;
}
#define CHECK(cond) Check((cond), __FILE__, __LINE__, #cond)
// Evaluates each side once: the calls checked have side effects.
void CheckEq(long got, long want, const char *file, int line, const char *what)
{
    Check(got == want, file, line, what, got, want);
}
#define CHECK_EQ(got, want) CheckEq((long)(got), (long)(want), __FILE__, __LINE__, #got " == " #want)

// Compares wide text with ASCII text.
bool Same(LPCWSTR w, const char *a)
{
    for (; *a; ++w, ++a)
        if (*w != (WCHAR)(unsigned char)*a)
            return false;
    return *w == 0;
}
#define CHECK_TEXT(w, a) Check(Same((w), (a)), __FILE__, __LINE__, #w " is \"" a "\"")

// Wide text from ASCII, in a fixed buffer.
struct W {
    WCHAR s[300];
    explicit W(const char *a)
    {
        size_t i = 0;
        for (; a[i] && i < 299; ++i)
            s[i] = (WCHAR)(unsigned char)a[i];
        s[i] = 0;
    }
};

const WCHAR kSentinel = 0xA5A5;

HKEY Create(HKEY parent, const char *path)
{
    HKEY key = NULL;
    DWORD disposition;
    LONG r = coredll::RegCreateKeyExW(parent, W(path).s, 0, NULL, 0, 0, NULL, &key, &disposition);
    CHECK_EQ(r, ERROR_SUCCESS);
    return key;
}

void SetSz(HKEY key, const char *name, const char *text)
{
    W t(text);
    DWORD size = (DWORD)((Length(text) + 1) * sizeof(WCHAR));
    CHECK_EQ(coredll::RegSetValueExW(key, W(name).s, 0, REG_SZ, (const BYTE *)t.s, size), ERROR_SUCCESS);
}

void EnumerationOrder(HKEY root)
{
    static const char *created[] = {"b", "B1", "a", "_x", "ab", "Z", "aB0", "a0"};
    static const char *expected[] = {"_x", "a", "a0", "ab", "aB0", "b", "B1", "Z"};
    HKEY order = Create(root, "Order");
    for (const char *name : created)
        coredll::RegCloseKey(Create(order, name));
    for (DWORD i = 0; i < 8; ++i) {
        WCHAR name[64];
        DWORD len = 64;
        CHECK_EQ(coredll::RegEnumKeyExW(order, i, name, &len, NULL, NULL, NULL, NULL), ERROR_SUCCESS);
        Check(Same(name, expected[i]), __FILE__, __LINE__, expected[i], (long)i, (long)i);
    }

    // Value names sort the same way; the IR entry's FriendlyName comes
    // before its Port.
    static const char *values[] = {"Port", "FriendlyName", "alpha", "_u", "DeviceType"};
    static const char *sorted[] = {"_u", "alpha", "DeviceType", "FriendlyName", "Port"};
    for (const char *name : values)
        SetSz(order, name, "x");
    for (DWORD i = 0; i < 5; ++i) {
        WCHAR name[64];
        DWORD len = 64;
        CHECK_EQ(coredll::RegEnumValueW(order, i, name, &len, NULL, NULL, NULL, NULL), ERROR_SUCCESS);
        Check(Same(name, sorted[i]), __FILE__, __LINE__, sorted[i], (long)i, (long)i);
    }
    WCHAR name[64];
    DWORD len = 64;
    CHECK_EQ(coredll::RegEnumValueW(order, 5, name, &len, NULL, NULL, NULL, NULL), ERROR_NO_MORE_ITEMS);
    len = 64;
    CHECK_EQ(coredll::RegEnumKeyExW(order, 8, name, &len, NULL, NULL, NULL, NULL), ERROR_NO_MORE_ITEMS);
    coredll::RegCloseKey(order);
}

// A key name of N - 1 characters fits a buffer of N; N and N + 1 do not,
// and then nothing is written.
void KeyNameBuffer(HKEY root)
{
    static const char *names[] = {"kkkkkk", "kkkkkkk", "kkkkkkkk"};
    for (int n = 0; n < 3; ++n) {
        HKEY parent = Create(root, n == 0 ? "Fit6" : n == 1 ? "Fit7" : "Fit8");
        coredll::RegCloseKey(Create(parent, names[n]));
        WCHAR buf[10];
        for (WCHAR &c : buf)
            c = kSentinel;
        DWORD len = 7;
        LONG r = coredll::RegEnumKeyExW(parent, 0, buf + 1, &len, NULL, NULL, NULL, NULL);
        if (n == 0) {
            CHECK_EQ(r, ERROR_SUCCESS);
            CHECK_EQ(len, 6);
            CHECK_EQ(buf[7], 0);
        } else {
            CHECK_EQ(r, ERROR_MORE_DATA);
            CHECK_EQ(len, 7);
            CHECK_EQ(buf[1], kSentinel);
        }
        CHECK_EQ(buf[0], kSentinel);
        CHECK_EQ(buf[8], kSentinel);
        coredll::RegCloseKey(parent);
    }
}

// A value name that does not fit writes nothing; data that does not fit
// still writes the name; both give the type and the size needed.
void ValueBuffers(HKEY root)
{
    HKEY key = Create(root, "Values");
    SetSz(key, "Port", "COM5:");
    struct Case {
        DWORD nameCap, dataCap;
        LONG result;
        bool nameWritten, dataWritten;
    } static const cases[] = {
        {5, 12, ERROR_SUCCESS, true, true},
        {4, 12, ERROR_MORE_DATA, false, false},
        {5, 11, ERROR_MORE_DATA, true, false},
        {5, 14, ERROR_SUCCESS, true, true},
    };
    for (const Case &c : cases) {
        WCHAR name[8];
        BYTE data[20];
        for (WCHAR &w : name)
            w = kSentinel;
        Fill(data, 0xA5, sizeof data);
        DWORD nameLen = c.nameCap, dataLen = c.dataCap, type = 99;
        CHECK_EQ(coredll::RegEnumValueW(key, 0, name, &nameLen, NULL, &type, data, &dataLen), c.result);
        CHECK_EQ(type, REG_SZ);
        CHECK_EQ(dataLen, 12);
        CHECK_EQ(name[0] == 'P', c.nameWritten);
        CHECK_EQ(nameLen, c.nameWritten ? 4 : c.nameCap);
        CHECK_EQ(data[0] == 'C', c.dataWritten);
        CHECK_EQ(data[c.dataCap], 0xA5);
        CHECK_EQ(name[c.nameCap], kSentinel);
    }

    // An unterminated string gets a terminator when there is room for one.
    // (The character after the data written is not a zero: the desktop
    // would count such a zero into the value.)
    W shortText("COMX");
    CHECK_EQ(coredll::RegSetValueExW(key, W("Short").s, 0, REG_SZ, (const BYTE *)shortText.s, 6), ERROR_SUCCESS);
    static const DWORD caps[] = {6, 7, 8};
    for (DWORD cap : caps) {
        WCHAR name[8];
        BYTE data[10];
        Fill(data, 0xA5, sizeof data);
        DWORD nameLen = 8, dataLen = cap;
        CHECK_EQ(coredll::RegEnumValueW(key, 1, name, &nameLen, NULL, NULL, data, &dataLen), ERROR_SUCCESS);
        CHECK_TEXT(name, "Short");
        CHECK_EQ(dataLen, 6);
        CHECK_EQ(data[6], cap >= 8 ? 0 : 0xA5);
    }
    coredll::RegCloseKey(key);
}

void Paths(HKEY root)
{
    coredll::RegCloseKey(Create(root, "Drivers\\Active"));
    // Each path opened, then created, beside Drivers\Active.
    struct Case {
        const char *path;
        LONG open, create;
    } static const cases[] = {
        {"Drivers\\Active", ERROR_SUCCESS, ERROR_SUCCESS},
        {"drivers\\ACTIVE", ERROR_SUCCESS, ERROR_SUCCESS},
        {"Drivers\\Passive", ERROR_FILE_NOT_FOUND, ERROR_SUCCESS},
        {"\\Drivers", ERROR_BAD_PATHNAME, ERROR_BAD_PATHNAME},
        {"Drivers\\Active\\", ERROR_SUCCESS, ERROR_SUCCESS},
        {"Drivers\\\\Active", ERROR_SUCCESS, ERROR_SUCCESS},
        {"", ERROR_SUCCESS, ERROR_SUCCESS},
    };
    for (const Case &c : cases) {
        HKEY key = NULL;
        LONG r = coredll::RegOpenKeyExW(root, W(c.path).s, 0, 0, &key);
        Check(r == c.open, __FILE__, __LINE__, c.path, r, c.open);
        if (r == ERROR_SUCCESS)
            coredll::RegCloseKey(key);
        else
            Check(coredll::GetLastError() == (DWORD)c.open, __FILE__, __LINE__, c.path,
                  (long)coredll::GetLastError(), c.open);
        r = coredll::RegCreateKeyExW(root, W(c.path).s, 0, NULL, 0, 0, NULL, &key, NULL);
        Check(r == c.create, __FILE__, __LINE__, c.path, r, c.create);
        if (r == ERROR_SUCCESS)
            coredll::RegCloseKey(key);
    }
    HKEY key = NULL;
    char longName[300] = "Drivers\\";
    Fill(longName + 8, 'n', 255);
    longName[8 + 255] = 0;
    CHECK_EQ(coredll::RegOpenKeyExW(root, W(longName).s, 0, 0, &key), ERROR_FILE_NOT_FOUND);
    key = Create(root, longName);
    coredll::RegCloseKey(key);
    CHECK_EQ(coredll::RegOpenKeyExW(root, W(longName).s, 0, 0, &key), ERROR_SUCCESS);
    coredll::RegCloseKey(key);
}

void Formatter()
{
    struct Case {
        const char *format;
        int arg;
        const char *expected;
    } static const cases[] = {
        {"COM%d:", 3, "COM3:"},
        {"#RegOpenKeyEx(): %d", 2, "#RegOpenKeyEx(): 2"},
        {"%d", -2147483647 - 1, "-2147483648"},
        {"[%5d]", 42, "[   42]"},
        {"[%-5d]", 42, "[42   ]"},
        {"[%05d]", -42, "[-0042]"},
        {"%x", 0xbeef, "beef"},
        {"%X", 0xbeef, "BEEF"},
        {"%u", -1, "4294967295"},
        {"100%%", 0, "100%"},
    };
    for (const Case &c : cases) {
        WCHAR out[64];
        coredll::wsprintfW(out, W(c.format).s, c.arg);
        Check(Same(out, c.expected), __FILE__, __LINE__, c.format, 0, 0);
    }
    WCHAR out[64];
    coredll::wsprintfW(out, W("Infrared port is now %s.").s, W("COM5:").s);
    CHECK_TEXT(out, "Infrared port is now COM5:.");
    coredll::wsprintfW(out, W("[%.3s][%6s][%-6s]").s, W("COM5:").s, W("ab").s, W("ab").s);
    CHECK_TEXT(out, "[COM][    ab][ab    ]");
    coredll::wsprintfW(out, W("%c%c").s, (int)'O', (int)'K');
    CHECK_TEXT(out, "OK");
    coredll::wsprintfW(out, W("%hs").s, "narrow");
    CHECK_TEXT(out, "narrow");
    coredll::wsprintfW(out, W("%q").s);
    CHECK_TEXT(out, "q");
    coredll::wsprintfW(out, W("%s").s, (LPCWSTR)NULL);
    CHECK_TEXT(out, "(null)");
}

void Strings()
{
    CHECK_EQ(coredll::wcslen(W("COM5:").s), 5);
    CHECK_EQ(coredll::wcscmp(W("Quelm").s, W("Quelm").s), 0);
    CHECK(coredll::wcscmp(W("Quelm").s, W("quelm").s) != 0);
    CHECK_EQ(coredll::wcsncmp(W("COM5:").s, W("COM").s, 3), 0);
    CHECK(coredll::wcsncmp(W("com5:").s, W("COM").s, 3) != 0);
    CHECK(coredll::wcsncmp(W("CO").s, W("COM").s, 3) != 0);
    WCHAR buf[4];
    for (int i = 0; i < 3; ++i)
        buf[i] = (WCHAR)(i + 1);
    buf[3] = kSentinel;
    coredll::memset(buf, 0, 3 * sizeof(WCHAR));
    CHECK_EQ(buf[2], 0);
    CHECK_EQ(buf[3], kSentinel);
}

void Handles()
{
    HKEY bogus = (HKEY)(UINT_PTR)0x4000;
    WCHAR name[8];
    DWORD len = 8;
    CHECK_EQ(coredll::RegEnumKeyExW(bogus, 0, name, &len, NULL, NULL, NULL, NULL), ERROR_INVALID_HANDLE);
    CHECK_EQ(coredll::GetLastError(), ERROR_INVALID_HANDLE);
    CHECK_EQ(coredll::RegCloseKey(bogus), ERROR_INVALID_HANDLE);
}

} // namespace

int RunConformance()
{
    HKEY root = Create(HKEY_CURRENT_USER, "Software\\SambrelConformance");
    EnumerationOrder(root);
    KeyNameBuffer(root);
    ValueBuffers(root);
    Paths(root);
    coredll::RegCloseKey(root);
    Formatter();
    Strings();
    Handles();
    Line totals;
    totals << (long)gPassed << " passed, " << (long)gFailed << " failed";
    ConformanceReport(totals.s);
    return gFailed;
}
