// Registry files: every value type, escape and encoding, every refusal with
// its line, and load-save-load giving back the same registry.
#include "platform/sim/registry.h"
#include "regfile/regfile.h"
#include "text/codecs.h"
#include "registry/names.h"
#include "tests/pieces.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <random>

namespace {

using regfile::Encoding;
using regfile::Loaded;

const std::string kV5 = "Windows Registry Editor Version 5.00\r\n\r\n";

std::vector<BYTE> Bytes(std::initializer_list<int> b)
{
    std::vector<BYTE> out;
    for (int x : b)
        out.push_back(static_cast<BYTE>(x));
    return out;
}

std::vector<BYTE> Wide(const std::u16string &s, bool terminate = true)
{
    return text::Utf16Bytes(s, terminate);
}

std::string Utf16File(const std::string &utf8)
{
    std::vector<BYTE> bytes = text::Utf16Bytes(text::U16(utf8), false);
    return "\xFF\xFE" + std::string(bytes.begin(), bytes.end());
}

// Loads a file that must load, reporting at the caller's line.
Loaded LoadAt(const char *file, int line, const std::string &bytes)
{
    ::testing::ScopedTrace trace(file, line, "loading");
    Loaded loaded;
    auto error = regfile::Load(bytes, loaded);
    EXPECT_FALSE(error) << (error ? std::to_string(error->line) + ": " + error->message : "");
    return loaded;
}
#define LOAD(bytes) LoadAt(__FILE__, __LINE__, bytes)

struct ValueCase {
    const char *what;
    std::string line;
    DWORD type;
    std::vector<BYTE> data;
};
void PrintTo(const ValueCase &row, std::ostream *os) { *os << row.what; }

class RegFileValues : public ::testing::TestWithParam<ValueCase> {};

TEST_P(RegFileValues, LoadAsTypedBytesAndComeBackTheSame)
{
    const ValueCase &c = GetParam();
    for (std::string file : {kV5 + "[HKEY_LOCAL_MACHINE\\K]\r\n" + c.line + "\r\n",
                             Utf16File(kV5 + "[HKEY_LOCAL_MACHINE\\K]\r\n" + c.line + "\r\n")}) {
        Loaded loaded = LOAD(file);
        const registry::RegValue *v = loaded.registry.FindValue(registry::Root::LocalMachine, u"K", c.what[0] == '@' ? u"" : u"v");
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->type, c.type);
        EXPECT_EQ(v->Data().Copy(), c.data);

        std::string saved, error;
        ASSERT_TRUE(regfile::Save(loaded.registry, loaded.format, saved, error)) << error;
        Loaded again = LOAD(saved);
        const registry::RegValue *w = again.registry.FindValue(registry::Root::LocalMachine, u"K", c.what[0] == '@' ? u"" : u"v");
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->type, c.type);
        EXPECT_EQ(w->Data().Copy(), c.data);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Types, RegFileValues,
    ::testing::Values(
        ValueCase{"String", "\"v\"=\"COM3:\"", REG_SZ, Wide(u"COM3:")},
        ValueCase{"EmptyString", "\"v\"=\"\"", REG_SZ, Wide(u"")},
        ValueCase{"Escapes", R"("v"="a\\b\"c")", REG_SZ, Wide(u"a\\b\"c")},
        ValueCase{"ControlEscapes", R"("v"="1\n2\r3\04")", REG_SZ, Wide(std::u16string(u"1\n2\r3\0" u"4", 7))},
        ValueCase{"NonAscii", "\"v\"=\"Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC\"", REG_SZ, Wide(u"Gr\u00fc\u00df \u20ac")},
        ValueCase{"@Default", "@=\"d\"", REG_SZ, Wide(u"d")},
        ValueCase{"Dword", "\"v\"=dword:00000001", REG_DWORD, Bytes({1, 0, 0, 0})},
        ValueCase{"DwordShort", "\"v\"=dword:a", REG_DWORD, Bytes({10, 0, 0, 0})},
        ValueCase{"DwordMax", "\"v\"=dword:FFFFFFFF", REG_DWORD, Bytes({255, 255, 255, 255})},
        ValueCase{"Binary", "\"v\"=hex:00,ff,7", REG_BINARY, Bytes({0, 255, 7})},
        ValueCase{"EmptyBinary", "\"v\"=hex:", REG_BINARY, {}},
        ValueCase{"ExpandSz", "\"v\"=hex(2):25,00,00,00", REG_EXPAND_SZ, Bytes({'%', 0, 0, 0})},
        ValueCase{"MultiSz", "\"v\"=hex(7):61,00,00,00,62,00,00,00,00,00", REG_MULTI_SZ,
                  Bytes({'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0})},
        ValueCase{"None", "\"v\"=hex(0):01", REG_NONE, Bytes({1})},
        ValueCase{"Qword", "\"v\"=hex(b):01,02,03,04,05,06,07,08", REG_QWORD, Bytes({1, 2, 3, 4, 5, 6, 7, 8})},
        ValueCase{"AnyType", "\"v\"=hex(ffffffff):aa", 0xFFFFFFFFu, Bytes({0xAA})},
        ValueCase{"SzAsHex", "\"v\"=hex(1):43,00,4f", REG_SZ, Bytes({'C', 0, 'O'})},
        ValueCase{"DwordOfOddSize", "\"v\"=hex(4):01,02", REG_DWORD, Bytes({1, 2})},
        ValueCase{"Continued", "\"v\"=hex:01,02,\\\r\n  03,\\\r\n\t04", REG_BINARY, Bytes({1, 2, 3, 4})},
        // Past what its first line has room for: 400 bytes after a line of 13.
        ValueCase{"ContinuedFar", "\"v\"=hex:00,\\" + [] {
                      std::string lines;
                      for (int i = 1; i < 400; ++i)
                          lines += "\r\n  " + std::string(1, "0123456789abcdef"[i / 16 % 16]) + "0123456789abcdef"[i % 16] + (i < 399 ? ",\\" : "");
                      return lines;
                  }(), REG_BINARY, [] {
                      std::vector<BYTE> b;
                      for (int i = 0; i < 400; ++i)
                          b.push_back(static_cast<BYTE>(i));
                      return b;
                  }()},
        ValueCase{"SpacesAndComment", "\"v\" = dword:2 ; two", REG_DWORD, Bytes({2, 0, 0, 0})}),
    [](const auto &info) {
        std::string n = info.param.what;
        return n[0] == '@' ? n.substr(1) : n;
    });

struct RefusalCase {
    const char *what;
    std::string file;
    size_t line;
    std::string message; // a part of it
};
void PrintTo(const RefusalCase &row, std::ostream *os) { *os << row.what; }

class RegFileRefusals : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RegFileRefusals, NameTheLine)
{
    const RefusalCase &c = GetParam();
    Loaded loaded;
    auto error = regfile::Load(c.file, loaded);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->line, c.line) << error->message;
    EXPECT_NE(error->message.find(c.message), std::string::npos) << error->message;
}

const std::string kKey = "[HKEY_LOCAL_MACHINE\\K]\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, RegFileRefusals,
    ::testing::Values(
        RefusalCase{"Empty", "", 1, "missing header"},
        RefusalCase{"NoHeader", "[HKEY_LOCAL_MACHINE\\K]\n", 1, "unknown header"},
        RefusalCase{"WrongHeader", "Windows Registry Editor Version 4.00\n", 1, "unknown header"},
        RefusalCase{"Regedit4AsUtf16", Utf16File("REGEDIT4\n"), 1, "8-bit"},
        RefusalCase{"OddUtf16", Utf16File("Windows Registry Editor Version 5.00\n") + "x", 1, "odd number"},
        RefusalCase{"BadUtf8", kV5 + kKey + "\"v\"=\"\xC3(\"\n", 4, "invalid UTF-8"},
        RefusalCase{"UnknownRoot", kV5 + "[HKEY_NOWHERE\\K]\n", 3, "unknown root 'HKEY_NOWHERE'"},
        RefusalCase{"ShortRoot", kV5 + "[HKLM\\K]\n", 3, "unknown root 'HKLM'"},
        RefusalCase{"UnclosedSection", kV5 + "[HKEY_LOCAL_MACHINE\\K\n", 3, "no closing"},
        RefusalCase{"EmptyKeyName", kV5 + "[HKEY_LOCAL_MACHINE\\\\K]\n", 3, "empty key name"},
        RefusalCase{"EmptyKeyNameWithin", kV5 + "[HKEY_LOCAL_MACHINE\\A\\\\B]\n", 3, "empty key name"},
        RefusalCase{"EmptyKeyNameAtTheEnd", kV5 + "[HKEY_LOCAL_MACHINE\\A\\]\n", 3, "empty key name"},
        RefusalCase{"TextAfterSection", kV5 + "[HKEY_LOCAL_MACHINE\\K] x\n", 3, "unexpected text"},
        RefusalCase{"ValueBeforeKey", kV5 + "\"v\"=\"x\"\n", 3, "value before any key"},
        RefusalCase{"ValueInDeletedKey", kV5 + "[-HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"x\"\n", 4, "deleted key"},
        RefusalCase{"DeleteRoot", kV5 + "[-HKEY_LOCAL_MACHINE]\n", 3, "root"},
        RefusalCase{"StrayLine", kV5 + kKey + "v=1\n", 4, "malformed line"},
        RefusalCase{"NoEquals", kV5 + kKey + "\"v\" \"x\"\n", 4, "expected '='"},
        RefusalCase{"UnterminatedName", kV5 + kKey + "\"v=x\n", 4, "unterminated string"},
        RefusalCase{"UnterminatedValue", kV5 + kKey + "\"v\"=\"x\n", 4, "unterminated string"},
        RefusalCase{"UnknownEscape", kV5 + kKey + "\"v\"=\"\\q\"\n", 4, "unknown escape"},
        RefusalCase{"UnknownForm", kV5 + kKey + "\"v\"=qword:1\n", 4, "malformed value"},
        RefusalCase{"TextAfterString", kV5 + kKey + "\"v\"=\"x\" y\n", 4, "unexpected text"},
        RefusalCase{"EmptyDword", kV5 + kKey + "\"v\"=dword:\n", 4, "bad dword"},
        RefusalCase{"BigDword", kV5 + kKey + "\"v\"=dword:123456789\n", 4, "too large"},
        RefusalCase{"BadDwordDigit", kV5 + kKey + "\"v\"=dword:12g\n", 4, "unexpected text"},
        RefusalCase{"BigHexByte", kV5 + kKey + "\"v\"=hex:01,100\n", 4, "'100' is too large"},
        RefusalCase{"BadHexByte", kV5 + kKey + "\"v\"=hex:01,zz\n", 4, "bad hex byte"},
        RefusalCase{"TrailingComma", kV5 + kKey + "\"v\"=hex:01,\n", 4, "ends with a comma"},
        RefusalCase{"HexDigitBeyond8Bit", Utf16File(kV5 + kKey + "\"v\"=hex:01,0\u0661,02,03\n"), 4, "before '\u0661'"},
        RefusalCase{"HexDigit8Bit", "REGEDIT4\n" + kKey + "\"v\"=hex:01,02,\xB9" "3,04\n", 3, "bad hex byte '\xC2\xB9'"},
        RefusalCase{"BadHexType", kV5 + kKey + "\"v\"=hex(123456789):01\n", 4, "hex(type)"},
        RefusalCase{"BadContinuationOnItsLine", kV5 + kKey + "\"v\"=hex:01,\\\n  02,xy\n", 5, "bad hex byte"},
        RefusalCase{"ContinuedPastTheEnd", kV5 + kKey + "\"v\"=hex:01,\\", 4, "ends inside"},
        RefusalCase{"KeyName256", kV5 + "[HKEY_LOCAL_MACHINE\\" + std::string(256, 'k') + "]\n", 3, "255"},
        // The same faults in a section that starts as the one before.
        RefusalCase{"EmptyKeyNameAtTheEndOfTheLast", kV5 + "[HKEY_LOCAL_MACHINE\\A\\B]\n[HKEY_LOCAL_MACHINE\\A\\B\\]\n", 4,
                    "empty key name in 'HKEY_LOCAL_MACHINE\\A\\B\\'"},
        RefusalCase{"EmptyKeyNameAfterTheLast", kV5 + "[HKEY_LOCAL_MACHINE\\A\\B]\n[HKEY_LOCAL_MACHINE\\A\\B\\\\C]\n", 4,
                    "empty key name"},
        RefusalCase{"KeyName256AfterTheLast", kV5 + "[HKEY_LOCAL_MACHINE\\A]\n[HKEY_LOCAL_MACHINE\\A\\" + std::string(256, 'k') + "]\n",
                    4, "255"},
        RefusalCase{"TooDeepPastTheLast", kV5 + "[HKEY_LOCAL_MACHINE" + [] {
                        std::string path;
                        for (int i = 0; i < 512; ++i)
                            path += "\\k";
                        return path + "]\n[HKEY_LOCAL_MACHINE" + path + "\\k]\n";
                    }(), 4, "deeper than the registry's 512 levels"},
        RefusalCase{"TextAfterTheLastsPath", kV5 + "[HKEY_LOCAL_MACHINE\\A]\n[HKEY_LOCAL_MACHINE\\A] x\n", 4, "unexpected text"},
        RefusalCase{"ValueName16384", kV5 + kKey + "\"" + std::string(16384, 'v') + "\"=\"x\"\n", 4, "16383"},
        RefusalCase{"LoneCrCountsAsLineEnd", "REGEDIT4\r\r[HKEY_LOCAL_MACHINE\\K]\rbad\r", 4, "malformed line"}),
    [](const auto &info) { return std::string(info.param.what); });

TEST(RegFile, LimitsOfNamesAreAccepted)
{
    Loaded loaded = LOAD(kV5 + "[HKEY_LOCAL_MACHINE\\" + std::string(255, 'k') + "]\n\"" + std::string(16383, 'v') + "\"=\"x\"\n");
    EXPECT_NE(loaded.registry.FindKey(registry::Root::LocalMachine, text::U16(std::string(255, 'k'))), nullptr);
}

TEST(RegFile, SectionsDeletionsAndComments)
{
    Loaded loaded = LOAD(kV5 +
                         "; a comment\n"
                         "[HKEY_LOCAL_MACHINE\\A\\B]\n"
                         "\"x\"=\"1\"\n"
                         "  ; an indented comment\n"
                         "\"y\"=\"2\"\n"
                         "\"x\"=-\n"
                         "\n"
                         "[HKEY_CURRENT_USER\\C]\n"
                         "[HKEY_CLASSES_ROOT\\D]\n[HKEY_USERS\\E]\n[HKEY_CURRENT_CONFIG\\F]\n"
                         "[HKEY_LOCAL_MACHINE\\G\\H]\n"
                         "[-HKEY_LOCAL_MACHINE\\G]\n"
                         "[hkey_local_machine\\a\\b]\n"
                         "\"z\"=\"3\"\n");
    const registry::RegKey *b = loaded.registry.FindKey(registry::Root::LocalMachine, u"A\\B");
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(b->values.size(), 2u);
    EXPECT_EQ(b->values[0].Name(), u"y");
    EXPECT_EQ(b->values[1].Name(), u"z");
    EXPECT_NE(loaded.registry.FindKey(registry::Root::CurrentUser, u"C"), nullptr);
    EXPECT_NE(loaded.registry.FindKey(registry::Root::CurrentConfig, u"F"), nullptr);
    EXPECT_EQ(loaded.registry.FindKey(registry::Root::LocalMachine, u"G"), nullptr);
}

// Sections that start as the one before, up to the end of a name or within
// one, in the same spelling or another: each opens the key its path names,
// and the keys are those the paths name, once each.
TEST(RegFile, SectionsThatStartAsTheOneBefore)
{
    struct Case {
        const char *section;
        const char16_t *key; // under HKEY_LOCAL_MACHINE, that its value goes to
    } cases[] = {
        {"HKEY_LOCAL_MACHINE\\A\\B\\C", u"A\\B\\C"},
        {"HKEY_LOCAL_MACHINE\\A\\B", u"A\\B"},          // shorter
        {"HKEY_LOCAL_MACHINE\\A\\B\\C\\D", u"A\\B\\C\\D"}, // longer
        {"HKEY_LOCAL_MACHINE\\a\\b\\E", u"A\\B\\E"},      // another spelling, then a new name
        {"HKEY_LOCAL_MACHINE\\A\\BB", u"A\\BB"},          // a name that goes on from the last's
        {"HKEY_LOCAL_MACHINE\\A\\B", u"A\\B"},           // and one that stops within it
        {"hkey_local_machine\\A\\B\\C", u"A\\B\\C"},      // the root spelt otherwise
        {"HKEY_LOCAL_MACHINE\\A\\B\\C", u"A\\B\\C"},      // the same path again
        {"HKEY_LOCAL_MACHINE\\A", u"A"},
        {"HKEY_CURRENT_USER\\A\\B", nullptr},          // another root
        {"HKEY_LOCAL_MACHINE\\A\\B\\C\\D\\E\\F", u"A\\B\\C\\D\\E\\F"},
    };
    std::string file = kV5;
    for (size_t i = 0; i < std::size(cases); ++i)
        file += "[" + std::string(cases[i].section) + "]\n\"v" + std::to_string(i) + "\"=dword:" + std::to_string(i) + "\n";
    Loaded loaded = LOAD(file);
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].section);
        registry::Root root = cases[i].key ? registry::Root::LocalMachine : registry::Root::CurrentUser;
        const registry::RegKey *key = loaded.registry.FindKey(root, cases[i].key ? cases[i].key : u"A\\B");
        ASSERT_NE(key, nullptr);
        EXPECT_NE(key->FindValue(text::U16("v" + std::to_string(i))), nullptr);
    }
    const registry::RegKey *a = loaded.registry.FindKey(registry::Root::LocalMachine, u"A");
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(a->subkeys.size(), 2u); // B and BB
    EXPECT_EQ(a->subkeys[0]->subkeys.size(), 2u); // C and E
    EXPECT_EQ(loaded.registry.FindKey(registry::Root::LocalMachine, u"A\\B\\C")->subkeys.size(), 1u);
}

TEST(RegFile, EncodingsAreKeptWhenSaving)
{
    const std::string body = "[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"caf\xE9\"\n";
    struct Case {
        std::string file;
        Encoding encoding;
        std::string prefix;
    };
    const Case cases[] = {
        {"REGEDIT4\r\n\r\n" + body, Encoding::Regedit4, "REGEDIT4\r\n"},
        {Utf16File(kV5 + "[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"caf\xC3\xA9\"\n"), Encoding::Utf16, "\xFF\xFEW\0i\0"},
        {kV5 + "[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"caf\xC3\xA9\"\n", Encoding::Utf8, "Windows Registry"},
        {"\xEF\xBB\xBF" + kV5 + "[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"caf\xC3\xA9\"\n", Encoding::Utf8Bom, "\xEF\xBB\xBFWindows"},
        {"Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"caf\xC3\xA9\"\n", Encoding::Utf8, "Windows Registry Editor Version 5.00\n\n"},
    };
    for (const Case &c : cases) {
        Loaded loaded = LOAD(c.file);
        EXPECT_EQ(loaded.format.encoding, c.encoding);
        EXPECT_EQ(loaded.registry.FindValue(registry::Root::LocalMachine, u"K", u"v")->Data().Copy(), Wide(u"caf\u00e9"));
        std::string saved, error;
        ASSERT_TRUE(regfile::Save(loaded.registry, loaded.format, saved, error));
        EXPECT_EQ(saved.substr(0, c.prefix.size()), c.prefix);
        // Saved again without change, the file is the same to the byte.
        Loaded again = LOAD(saved);
        std::string twice;
        ASSERT_TRUE(regfile::Save(again.registry, again.format, twice, error));
        EXPECT_EQ(twice, saved);
    }
}

// A file in the form registry editors export is saved back to the same
// bytes, whatever falls where in a name or a string: escapes, characters
// beyond ASCII and beyond the BMP, at every offset of a run of plain text.
TEST(RegFile, TextIsSavedBackAsItWasRead)
{
    struct Special {
        const char *utf8, *cp1252; // as the file holds it; no cp1252: not in REGEDIT4 files
    } specials[] = {{"\\\\", "\\\\"}, {"\\\"", "\\\""}, {"\xC3\xA9", "\xE9"}, {"\x7F", "\x7F"},
                    {" ", " "}, {"\xD0\x96", nullptr}, {"\xF0\x9F\x98\x80", nullptr}};
    for (const Special &special : specials)
        for (size_t at = 0; at <= 17; ++at) // in each lane of sixteen bytes, and the last
            for (int encoding = 0; encoding < 3; ++encoding) {
                const char *piece = encoding == 0 ? special.cp1252 : special.utf8;
                if (!piece)
                    continue;
                std::string text = std::string(at, 'a') + piece + std::string(at == 17 ? 0 : 19 - at, 'b');
                std::string body = "[HKEY_LOCAL_MACHINE\\K]\r\n\"" + text + "\"=\"" + text + "\"\r\n\r\n";
                std::string file = encoding == 0   ? "REGEDIT4\r\n\r\n" + body
                                   : encoding == 1 ? Utf16File(kV5 + body)
                                                   : kV5 + body;
                SCOPED_TRACE(file);
                Loaded loaded = LOAD(file);
                std::string saved, error;
                ASSERT_TRUE(regfile::Save(loaded.registry, loaded.format, saved, error)) << error;
                EXPECT_EQ(saved, file);
            }
}

TEST(RegFile, Regedit4HoldsExpandAndMultiStringsAs8BitText)
{
    Loaded loaded = LOAD("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=hex(2):25,80,00\n");
    EXPECT_EQ(loaded.registry.FindValue(registry::Root::LocalMachine, u"K", u"v")->Data().Copy(), Wide(u"%\u20ac"));
    std::string saved, error;
    ASSERT_TRUE(regfile::Save(loaded.registry, loaded.format, saved, error));
    EXPECT_NE(saved.find("\"v\"=hex(2):25,80,00"), std::string::npos) << saved;
}

TEST(RegFile, TextThatAn8BitFileCannotHoldIsRefusedWhenSaving)
{
    Loaded loaded = LOAD("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\K]\n");
    loaded.registry.SetValue(registry::Root::LocalMachine, u"K", u"v", REG_SZ, Wide(u"\u0416"));
    std::string saved, error;
    // A string value falls back to its hex form...
    ASSERT_TRUE(regfile::Save(loaded.registry, loaded.format, saved, error));
    EXPECT_NE(saved.find("\"v\"=hex(1):16,04,00,00"), std::string::npos);
    // ...a name cannot: the first one in the file is named.
    loaded.registry.SetValue(registry::Root::LocalMachine, u"K", u"\u0416", REG_SZ, Wide(u"x"));
    loaded.registry.CreateKey(registry::Root::LocalMachine, u"K\\\u042f");
    EXPECT_FALSE(regfile::Save(loaded.registry, loaded.format, saved, error));
    EXPECT_EQ(error, "the value name '\u0416' cannot be written in Windows-1252, this file's encoding");
    EXPECT_EQ(saved, "");
}

// Whatever the simulated handheld lets a program (or a hostile image) put
// in the registry is either saved so that it loads again to the same
// registry, or not saved at all: a file sambrel then refused to load would
// be as good as lost. The limits are tried at N and N+1. A name that the
// file's encoding cannot hold (beyond Windows-1252 in a REGEDIT4 file, half
// a surrogate pair in UTF-8) is refused naming that encoding.
TEST(RegFile, WhatWouldNotLoadAgainIsNotSaved)
{
    enum : unsigned { kRegedit4 = 1, kUtf16 = 2, kUtf8 = 4, kAll = 7 };
    struct Case {
        const char *what;
        std::function<void(registry::Tree &)> change;
        const char *refusal;      // empty: saved and loaded again; "{}" stands for the file's encoding
        unsigned refusedIn = kAll; // the files that refuse it; the others save it
    };
    auto chain = [](size_t depth) {
        std::u16string path = u"D";
        for (size_t i = 1; i < depth; ++i)
            path += u"\\D";
        return path;
    };
    const Case cases[] = {
        {"CR LF in a key name", [](registry::Tree &t) { t.CreateKey(registry::Root::LocalMachine, u"a\r\nb"); },
         "has a line end in its name"},
        {"CR in a key name", [](registry::Tree &t) { t.CreateKey(registry::Root::LocalMachine, u"S\\a\rb"); },
         "has a line end in its name"},
        {"LF in a key name", [](registry::Tree &t) { t.CreateKey(registry::Root::CurrentUser, u"\nb"); },
         "has a line end in its name"},
        {"bracket ending a key name", [](registry::Tree &t) { t.CreateKey(registry::Root::LocalMachine, u"a]"); }, ""},
        {"control character in a key name",
         [](registry::Tree &t) { t.CreateKey(registry::Root::LocalMachine, u"a\x01\x1f b"); }, ""},
        {"control characters, quotes and line ends in a value name", [](registry::Tree &t) {
             t.SetValue(registry::Root::LocalMachine, u"K", u"a\x01\"\\b\r\nc\x7f", REG_DWORD, Bytes({1, 0, 0, 0}));
         }, ""},
        {"512 levels", [&](registry::Tree &t) { t.CreateKey(registry::Root::LocalMachine, chain(512)); }, ""},
        {"513 levels", [&](registry::Tree &t) { t.CreateKey(registry::Root::LocalMachine, chain(513)); },
         "lies deeper than the registry's 512 levels"},
        {"value name of 16383", [](registry::Tree &t) {
             t.SetValue(registry::Root::LocalMachine, u"K", std::u16string(16383, u'v'), REG_DWORD, Bytes({1, 0, 0, 0}));
         }, ""},
        {"value name of 16384", [](registry::Tree &t) {
             t.SetValue(registry::Root::LocalMachine, u"K", std::u16string(16384, u'v'), REG_DWORD, Bytes({1, 0, 0, 0}));
         }, "is longer than the 16383 characters a registry file may hold"},
        {"beyond Windows-1252 in a value name", [](registry::Tree &t) {
             t.SetValue(registry::Root::LocalMachine, u"K", u"\u0416", REG_DWORD, Bytes({1, 0, 0, 0}));
         }, "the value name '\u0416' cannot be written in {}, this file's encoding", kRegedit4},
        {"beyond Windows-1252 in a key name", [](registry::Tree &t) {
             t.CreateKey(registry::Root::LocalMachine, u"K\\\u20ac\u0416");
         }, "the key 'HKEY_LOCAL_MACHINE\\K\\\u20ac\u0416' cannot be written in {}, this file's encoding", kRegedit4},
        {"beyond Windows-1252 in an expandable string", [](registry::Tree &t) {
             t.SetValue(registry::Root::LocalMachine, u"K", u"v", REG_EXPAND_SZ, Wide(u"%\u0416%"));
         }, "the value 'v' cannot be written in {}, this file's encoding", kRegedit4},
        {"half a surrogate pair in a value name", [](registry::Tree &t) {
             t.SetValue(registry::Root::LocalMachine, u"K", u"a\xD800", REG_DWORD, Bytes({1, 0, 0, 0}));
         }, "the value name 'a\uFFFD' cannot be written in {}, this file's encoding", kRegedit4 | kUtf8},
        {"half a surrogate pair in a key name", [](registry::Tree &t) {
             t.CreateKey(registry::Root::LocalMachine, u"K\\\xDC00");
         }, "the key 'HKEY_LOCAL_MACHINE\\K\\\uFFFD' cannot be written in {}, this file's encoding", kRegedit4 | kUtf8},
    };
    const struct {
        unsigned bit;
        const char *encoding;
        std::string file;
    } files[] = {
        {kRegedit4, "Windows-1252", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n"},
        {kUtf16, "UTF-16LE", Utf16File(kV5 + "[HKEY_LOCAL_MACHINE\\K]\r\n")},
        {kUtf8, "UTF-8", kV5 + "[HKEY_LOCAL_MACHINE\\K]\r\n"},
    };
    for (const Case &c : cases) {
        for (const auto &[bit, encoding, file] : files) {
            SCOPED_TRACE(std::string(c.what) + ", " + encoding);
            Loaded loaded = LOAD(file);
            c.change(loaded.registry);
            std::string saved, error;
            bool ok = regfile::Save(loaded.registry, loaded.format, saved, error);
            if (*c.refusal && (c.refusedIn & bit)) {
                std::string refusal = c.refusal;
                if (size_t at = refusal.find("{}"); at != std::string::npos)
                    refusal.replace(at, 2, encoding);
                EXPECT_FALSE(ok);
                EXPECT_NE(error.find(refusal), std::string::npos) << error;
                continue;
            }
            ASSERT_TRUE(ok) << error;
            Loaded again;
            auto fault = regfile::Load(saved, again);
            ASSERT_FALSE(fault) << fault->line << ": " << fault->message;
            std::string twice;
            ASSERT_TRUE(regfile::Save(again.registry, again.format, twice, error)) << error;
            EXPECT_EQ(twice, saved);
        }
    }
}

TEST(RegFile, HexIsFoldedAsRegistryEditorsFoldIt)
{
    registry::Tree registry;
    std::vector<BYTE> data(40);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<BYTE>(i);
    registry.SetValue(registry::Root::LocalMachine, u"K", u"Data", REG_BINARY, data);
    std::string saved, error;
    ASSERT_TRUE(regfile::Save(registry, {Encoding::Utf8, regfile::LineEnd::Lf}, saved, error));
    // "Data"=hex: is 11 characters; 22 bytes bring the line to 77.
    EXPECT_NE(saved.find("\"Data\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\n"
                         "  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27\n"),
              std::string::npos)
        << saved;
}

TEST(RegFile, KeySectionIsWhatTheFileHolds)
{
    registry::Tree registry;
    registry.SetValue(registry::Root::LocalMachine, u"ExtModems\\IR", u"Port", REG_SZ, Wide(u"COM3:"));
    registry.SetValue(registry::Root::LocalMachine, u"ExtModems\\IR", u"DeviceType", REG_DWORD, Bytes({1, 0, 0, 0}));
    EXPECT_EQ(regfile::KeySection("HKEY_LOCAL_MACHINE\\ExtModems\\IR",
                                  *registry.FindKey(registry::Root::LocalMachine, u"ExtModems\\IR")),
              "[HKEY_LOCAL_MACHINE\\ExtModems\\IR]\n\"DeviceType\"=dword:00000001\n\"Port\"=\"COM3:\"\n");
    // Half a surrogate pair, which UTF-8 cannot hold, is shown as U+FFFD;
    // characters of two, three and four bytes as Python encodes them.
    registry.SetValue(registry::Root::LocalMachine, u"ExtModems\\IR", u"a\xDC00", REG_DWORD, Bytes({2, 0, 0, 0}));
    registry.SetValue(registry::Root::LocalMachine, u"ExtModems\\IR", u"b\xD800", REG_DWORD, Bytes({3, 0, 0, 0}));
    registry.SetValue(registry::Root::LocalMachine, u"ExtModems\\IR", u"c\u00e9\u20ac\U0001F600", REG_DWORD,
                      Bytes({4, 0, 0, 0}));
    EXPECT_EQ(regfile::KeySection("HKEY_LOCAL_MACHINE\\ExtModems\\IR",
                                  *registry.FindKey(registry::Root::LocalMachine, u"ExtModems\\IR")),
              "[HKEY_LOCAL_MACHINE\\ExtModems\\IR]\n\"a\xEF\xBF\xBD\"=dword:00000002\n\"b\xEF\xBF\xBD\"=dword:00000003\n"
              "\"c\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\"=dword:00000004\n\"DeviceType\"=dword:00000001\n\"Port\"=\"COM3:\"\n");
    EXPECT_EQ(text::Utf8(u"c\u00e9\u20ac\U0001F600\xD800"), "c\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xEF\xBF\xBD");
}

} // namespace

namespace {

// Values set and deleted in any order, under spellings that differ in case,
// over sections of the same key opened again and again: the loaded key
// holds what applying each line in turn gives (a name's first spelling, its
// last data), in the registry's order.
TEST(RegFileOrder, AnyOrderGivesWhatTheLinesSayInTurn)
{
    const char *names[] = {"alpha", "Alpha", "ALPHA", "beta", "Beta", "Ж", "ж", "zeta", "Zeta", "_u", "a0"};
    const char *keys[] = {"[HKEY_LOCAL_MACHINE\\Order]", "[hkey_local_machine\\ORDER]"};
    std::mt19937 random(11);
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::string file = kV5 + keys[0] + "\r\n";
        std::vector<std::pair<std::u16string, std::string>> model; // in no order
        int lines = 1 + static_cast<int>(random() % 40);
        for (int i = 0; i < lines; ++i) {
            if (random() % 6 == 0)
                file += std::string(keys[random() % 2]) + "\r\n";
            std::u16string name = text::U16(names[random() % 11]);
            auto same = [&](const auto &m) { return registry::EqualNoCase(m.first, name); };
            auto it = std::find_if(model.begin(), model.end(), same);
            if (random() % 4 == 0) {
                file += "\"" + text::Utf8(name) + "\"=-\r\n";
                if (it != model.end())
                    model.erase(it);
            } else {
                std::string data = std::to_string(i);
                file += "\"" + text::Utf8(name) + "\"=\"" + data + "\"\r\n";
                if (it != model.end())
                    it->second = data;
                else
                    model.emplace_back(name, data);
            }
        }
        std::sort(model.begin(), model.end(),
                  [](const auto &a, const auto &b) { return registry::CompareNames(a.first, b.first) < 0; });
        Loaded loaded = LOAD(file);
        const registry::RegKey *key = loaded.registry.FindKey(registry::Root::LocalMachine, u"Order");
        ASSERT_NE(key, nullptr);
        ASSERT_EQ(key->values.size(), model.size()) << file;
        for (size_t i = 0; i < model.size(); ++i) {
            EXPECT_EQ(key->values[i].Name(), model[i].first) << file;
            EXPECT_EQ(key->values[i].Data().Copy(), Wide(text::U16(model[i].second))) << file;
        }
    }
}

// Many values in one section, in every order, named alike for their first
// eight characters or more (up to sixty), in one or two spellings, some
// beyond 8-bit, some holding NULs where others end: they load in the
// registry's order, each name once, with its last data.
TEST(RegFileOrder, ManyValuesInAnyOrder)
{
    const std::u16string sixty(60, u'p'), nul(1, u'\0');
    struct Case {
        const char *what;
        std::vector<std::u16string> stems; // each made many names by a number after it
        int each = 30;
        std::vector<std::u16string> tails = {u""}; // and each of these after the number
    } cases[] = {
        {"a shared prefix of eight", {u"Settings", u"SETTINGS_", u"settings"}},
        {"shorter than eight", {u"v", u"V", u"w"}},
        {"beyond 8-bit", {u"\u0416abcdefgh", u"\u0436ABCDEFGH", u"plain"}},
        {"8-bit beyond ASCII", {u"\u00c9t\u00e9", u"\u00e9T\u00c9", u"zz"}},
        {"ASCII, 8-bit and beyond", {u"a", u"A\u00e9", u"a\u0416", u"A\u00ff"}},
        {"a shared prefix of sixty", {sixty, sixty + u"_", u"P" + sixty.substr(1) + u"_"}},
        {"sixty shared, beyond 8-bit", {sixty + u"\u0416", sixty + u"\u0436", sixty + u"\u0417"}},
        {"NULs where others end", {u"n", u"N", u"n" + nul}, 30, {u"", nul, nul + nul, nul + u"x"}},
        {"many, sharing eight and more in turn", {u"AAAAAAAAAAAAAAAAAAA1", u"aaaaaaaaaaaaaaaaaaa2", u"b", u"B_"}, 400},
        {"many, beyond 8-bit, in turn", {u"\u0416\u0416\u0416\u0416\u0416x", u"\u0436\u0436\u0436\u0436\u0436y", u"b"}, 400},
    };
    const char *orders[] = {"ascending", "descending", "shuffled"};
    auto escaped = [](const std::u16string &name) {
        std::string out;
        for (char c : text::Utf8(name))
            out += c ? std::string(1, c) : "\\0";
        return out;
    };
    for (const Case &c : cases)
        for (const char *order : orders) {
            SCOPED_TRACE(std::string(c.what) + ", " + order);
            std::vector<std::u16string> names;
            for (const std::u16string &stem : c.stems)
                for (int i = 0; i < c.each; ++i)
                    for (const std::u16string &tail : c.tails)
                        names.push_back(stem + text::U16(std::to_string(i % (c.each * 5 / 6))) + tail); // some twice
            auto less = [](const std::u16string &a, const std::u16string &b) { return registry::CompareNames(a, b) < 0; };
            if (order[0] != 's') {
                std::stable_sort(names.begin(), names.end(), less);
                names.erase(std::unique(names.begin(), names.end(),
                                        [](const auto &a, const auto &b) { return registry::EqualNoCase(a, b); }),
                            names.end());
                if (order[0] == 'd')
                    std::reverse(names.begin(), names.end());
            } else {
                std::shuffle(names.begin(), names.end(), std::mt19937(5));
            }
            std::string file = kV5 + "[HKEY_LOCAL_MACHINE\\Many]\r\n";
            std::vector<std::pair<std::u16string, std::string>> model;
            for (size_t i = 0; i < names.size(); ++i) {
                file += "\"" + escaped(names[i]) + "\"=\"" + std::to_string(i) + "\"\r\n";
                auto it = std::find_if(model.begin(), model.end(),
                                       [&](const auto &m) { return registry::EqualNoCase(m.first, names[i]); });
                if (it != model.end())
                    it->second = std::to_string(i);
                else
                    model.emplace_back(names[i], std::to_string(i));
            }
            std::stable_sort(model.begin(), model.end(), [&](const auto &a, const auto &b) { return less(a.first, b.first); });
            Loaded loaded = LOAD(file);
            const registry::RegKey *key = loaded.registry.FindKey(registry::Root::LocalMachine, u"Many");
            ASSERT_NE(key, nullptr);
            ASSERT_EQ(key->values.size(), model.size());
            for (size_t i = 0; i < model.size(); ++i) {
                EXPECT_EQ(key->values[i].Name(), model[i].first) << i;
                EXPECT_EQ(key->values[i].Data().Copy(), Wide(text::U16(model[i].second))) << i;
            }
        }
}

// Keys listed descending, in two sorted runs, descending and then
// shuffled, or shuffled, named alike for their first eight characters or
// sixty, a deletion among them, and keys reopened in another spelling
// before and after it: one key each, in order, the deleted ones gone.
TEST(RegFileOrder, KeysInAnyOrderAndDeletions)
{
    for (std::string order : {"descending", "two runs", "descending, then shuffled", "shuffled"})
        for (std::string stem : {std::string("S"), std::string("Settings"), std::string(60, 'S')}) {
            SCOPED_TRACE(order + ", " + stem);
            std::vector<int> numbers;
            for (int i = 400; i > 0; --i)
                numbers.push_back(1000 + i);
            if (order == "two runs") { // 1251 to 1400, then 1001 to 1250
                std::rotate(numbers.begin(), numbers.begin() + 150, numbers.end());
                std::reverse(numbers.begin(), numbers.end());
            } else if (order != "descending") {
                std::shuffle(numbers.begin() + (order == "shuffled" ? 0 : 320), numbers.end(), std::mt19937(3));
            }
            std::string file = kV5, lower = stem;
            std::transform(stem.begin(), stem.end(), lower.begin(), [](char ch) { return static_cast<char>(std::tolower(ch)); });
            for (size_t i = 0; i < numbers.size(); ++i) {
                file += "[HKEY_LOCAL_MACHINE\\K\\" + stem + std::to_string(numbers[i]) + "\\Sub]\r\n";
                if (i == 300 || i == 350) // reopened before the deletion
                    file += "[hkey_local_machine\\k\\" + lower + (i == 300 ? "1300" : "1050") + "]\r\n\"w\"=dword:2\r\n";
            }
            file += "[-HKEY_LOCAL_MACHINE\\K\\" + stem + "1200]\r\n";
            file += "[hkey_local_machine\\k\\" + lower + "1100]\r\n\"v\"=dword:1\r\n";
            Loaded loaded = LOAD(file);
            const registry::RegKey *k = loaded.registry.FindKey(registry::Root::LocalMachine, u"K");
            ASSERT_NE(k, nullptr);
            ASSERT_EQ(k->subkeys.size(), 399u);
            for (size_t i = 0; i + 1 < k->subkeys.size(); ++i)
                EXPECT_LT(registry::CompareNames(k->subkeys[i]->Name(), k->subkeys[i + 1]->Name()), 0);
            for (const registry::RegKey *sub : k->subkeys)
                EXPECT_EQ(sub->subkeys.size(), 1u);
            EXPECT_EQ(loaded.registry.FindKey(registry::Root::LocalMachine, text::U16(stem + "1200")), nullptr);
            for (const char *number : {"1050", "1100", "1300"}) {
                const registry::RegKey *reopened =
                    loaded.registry.FindKey(registry::Root::LocalMachine, text::U16("K\\" + stem + number));
                ASSERT_NE(reopened, nullptr);
                EXPECT_EQ(reopened->Name(), text::U16(stem + number));
                EXPECT_EQ(reopened->values.size(), 1u);
            }
        }
}

// Case folding covers the whole Basic Multilingual Plane, as Wine's
// registry folds names: Cyrillic, Greek and Latin Extended letters meet
// their other case.
TEST(RegFileOrder, CaseFoldingBeyondLatin1)
{
    struct Case {
        const char *a, *b;
    } cases[] = {{"Ж", "ж"}, {"Σ", "σ"}, {"Š", "š"}, {"Ÿ", "ÿ"}, {"İ", "i"}, {"Ａ", "ａ"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.a);
        EXPECT_TRUE(registry::EqualNoCase(text::U16(c.a), text::U16(c.b)));
    }
    EXPECT_FALSE(registry::EqualNoCase(u"ς", u"σ")); // final sigma has no other case of its own
}

} // namespace

namespace {

// A value name holding a line end or a NUL (read from the escapes Wine's
// reg export writes) is written back escaped: the file still loads, to the
// same name.
TEST(RegFile, LineEndsInNamesAreWrittenEscaped)
{
    for (const char *name : {"Client\\nfo", "a\\rb", "nul\\0here", "both\\r\\n"}) {
        SCOPED_TRACE(name);
        Loaded loaded = LOAD(kV5 + "[HKEY_LOCAL_MACHINE\\K]\r\n\"" + name + "\"=dword:1\r\n");
        std::string saved, error;
        ASSERT_TRUE(regfile::Save(loaded.registry, loaded.format, saved, error)) << error;
        Loaded again = LOAD(saved);
        const registry::RegKey *k = again.registry.FindKey(registry::Root::LocalMachine, u"K");
        ASSERT_NE(k, nullptr);
        ASSERT_EQ(k->values.size(), 1u);
        EXPECT_EQ(k->values[0].Name(), loaded.registry.FindKey(registry::Root::LocalMachine, u"K")->values[0].Name());
    }
}

} // namespace

namespace {

// What loading gives, as text to compare: the saved file, or the error.
std::string Outcome(const std::optional<regfile::LoadError> &error, const Loaded &loaded)
{
    if (error)
        return std::to_string(error->line) + ": " + error->message;
    std::string bytes, why;
    EXPECT_TRUE(regfile::Save(loaded.registry, loaded.format, bytes, why)) << why;
    return bytes;
}

struct PieceCase {
    const char *what;
    std::string file;
};

// Files whose lines, line ends (a CRLF cut between its CR and LF), UTF-16
// units and long lines fall across the edges of pieces.
std::vector<PieceCase> PieceCases()
{
    std::string longLine = "\"long\"=\"" + std::string(10000, 'x') + "\"";
    std::string longHex = std::string(3000, 'n') + "\"=hex:"; // the name alone is past the fold
    for (int i = 0; i < 600; ++i)
        longHex += "e9,";
    longHex += "00";
    return {
        {"REGEDIT4, CRLF", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=\"\xe9t\xe9\"\r\n\"h\"=hex:01,02,\\\r\n  03\r\n" +
                               longLine + "\r\n[HKEY_LOCAL_MACHINE\\B]\r\n@=dword:00000007"},
        {"REGEDIT4, lone CR", "REGEDIT4\r\r[HKEY_LOCAL_MACHINE\\A]\r\"v\"=\"x\"\r" + longLine + "\r"},
        {"REGEDIT4, LF", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"x\"\n" + longLine + "\n"},
        {"UTF-16", Utf16File(kV5 + "[HKEY_LOCAL_MACHINE\\A]\r\n\"\u0416\"=\"\u00e9\"\r\n" + longLine + "\r\n")},
        {"UTF-8, a syntax error, then a bad byte", kV5 + "[HKEY_LOCAL_MACHINE\\A]\r\nnonsense\r\n" + longLine + "\r\n\"b\"=\"\xff\"\r\n"},
        {"UTF-8, a syntax error", kV5 + "[HKEY_LOCAL_MACHINE\\A]\r\n" + longLine + "\r\nnonsense\r\n"},
        {"UTF-16, cut in a unit", Utf16File(kV5 + "[HKEY_LOCAL_MACHINE\\A]\r\n").substr(0, 41)},
        {"REGEDIT4, a long name and long hex", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"" + longHex + "\n"},
        {"UTF-16, a long name and long hex", Utf16File(kV5 + "[HKEY_LOCAL_MACHINE\\A\\\u0416]\n\"\U0001F600" + longHex + "\n")},
    };
}

// Read in pieces of any size, a file loads as it does whole, errors
// included.
TEST(RegFilePieces, LoadAsTheWholeFileDoes)
{
    for (const auto &c : PieceCases()) {
        Loaded whole;
        std::string expected = Outcome(regfile::Load(c.file, whole), whole);
        // A source that tells its size lets a long line's window grow at
        // once to the rest of the file.
        for (bool sized : {false, true})
            for (size_t piece : {1, 2, 3, 7, 4096, 1 << 20}) {
                SCOPED_TRACE(std::string(c.what) + ", pieces of " + std::to_string(piece) + (sized ? ", sized" : ""));
                pieces::Source source(c.file, piece, SIZE_MAX, sized);
                Loaded loaded;
                auto error = regfile::Load(source, loaded);
                EXPECT_EQ(Outcome(error, loaded), expected);
            }
    }
}

// Saved in blocks of any size, a file is the same bytes as saved whole: a
// block is the size asked for, the last no larger, and none is empty.
TEST(RegFilePieces, SaveAsTheWholeFileDoes)
{
    for (const auto &c : PieceCases()) {
        Loaded loaded;
        if (regfile::Load(c.file, loaded))
            continue;
        std::string whole, error;
        ASSERT_TRUE(regfile::Save(loaded.registry, loaded.format, whole, error)) << error;
        for (size_t block : {size_t{1}, size_t{2}, size_t{3}, size_t{7}, size_t{4096}, whole.size() - 1, whole.size(),
                             whole.size() + 1, regfile::kSaveBlock}) {
            SCOPED_TRACE(std::string(c.what) + ", blocks of " + std::to_string(block));
            pieces::Sink sink;
            ASSERT_TRUE(regfile::Save(loaded.registry, loaded.format, sink, error, block)) << error;
            EXPECT_EQ(sink.bytes, whole);
            ASSERT_FALSE(sink.sizes.empty());
            for (size_t i = 0; i + 1 < sink.sizes.size(); ++i)
                ASSERT_EQ(sink.sizes[i], block) << i;
            EXPECT_GE(sink.sizes.back(), 1u);
            EXPECT_LE(sink.sizes.back(), block);
        }
    }
}

// A sink that fails stops the save at once, with its reason.
TEST(RegFilePieces, ASinkThatFailsStopsTheSave)
{
    Loaded loaded = LOAD(PieceCases()[0].file);
    std::string whole, error;
    ASSERT_TRUE(regfile::Save(loaded.registry, loaded.format, whole, error));
    size_t blocks = (whole.size() + 99) / 100;
    for (size_t failAt : {size_t{0}, size_t{1}, blocks - 1}) {
        SCOPED_TRACE("failing at block " + std::to_string(failAt));
        pieces::Sink sink(failAt);
        error.clear();
        EXPECT_FALSE(regfile::Save(loaded.registry, loaded.format, sink, error, 100));
        EXPECT_EQ(error, "No space left on device");
        EXPECT_EQ(sink.sizes.size(), failAt);
        EXPECT_EQ(sink.refused, 1);
    }
}

TEST(RegFilePieces, AFailedReadIsReportedAsSuch)
{
    std::string file = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=\"" + std::string(9000, 'x') + "\"\r\n";
    for (size_t failAfter : {size_t{0}, size_t{5}, size_t{4096}, file.size() - 1}) {
        SCOPED_TRACE("failing after " + std::to_string(failAfter) + " bytes");
        pieces::Source source(file, 4096, failAfter);
        Loaded loaded;
        auto error = regfile::Load(source, loaded);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->line, 0u);
        EXPECT_EQ(error->message, "cannot be read: Input/output error");
    }
}

} // namespace
