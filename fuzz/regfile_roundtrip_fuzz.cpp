// libFuzzer target for registry files that load: the input is read as a
// list of steps that writes a well-formed file (sections opened again in
// other spellings, keys deleted, values set, deleted and set again, every
// kind of data, in any encoding and line end) and applies the same steps
// to a registry through the tree's own calls. The file must load to that
// registry, and, saved and loaded again, give the same tree and the same
// bytes. Random bytes rarely make a file that loads; these always do, so
// the fuzzer's work goes into the gathering, the saving and the reloading.
#include "fuzz/same_tree.h"
#include "regfile/regfile.h"
#include "text/codecs.h"
#include "text/windows1252.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The input, taken a byte at a time; zeros once it is used up.
class Steps {
public:
    Steps(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    bool More() const { return at_ < size_; }
    unsigned Byte() { return at_ < size_ ? data_[at_++] : 0; }
    unsigned Below(unsigned n) { return Byte() % n; }

private:
    const uint8_t *data_;
    size_t size_, at_ = 0;
};

// Characters that fold into each other, or not, in every encoding's reach
// (the last ones only beyond Windows-1252), and the ones a file escapes.
const char16_t kLetters[] = u"aAbB\u00e9\u00c9\u00df i\u0131\u0130\u0416\u0436\u03a3\u03c3";
constexpr unsigned kIn1252 = 9, kAll = sizeof kLetters / sizeof *kLetters - 1;

struct Builder {
    regfile::Encoding encoding;
    std::u16string text; // the file, before it is encoded
    std::u16string end;  // the line end
    registry::Tree expected;

    void Line(const std::u16string &line) { text += line + end; }

    std::u16string Name(Steps &steps, bool value)
    {
        std::u16string name;
        unsigned letters = encoding == regfile::Encoding::Regedit4 ? kIn1252 : kAll;
        for (unsigned n = 1 + steps.Below(4); n > 0; --n) {
            unsigned pick = steps.Below(letters + (value ? 4 : 0));
            name += pick < letters ? kLetters[pick] : u"\\\"\n\0"[pick - letters];
        }
        return name;
    }

    // A name or text as a quoted string holds it.
    static std::u16string Quoted(const std::u16string &s)
    {
        std::u16string q = u"\"";
        for (char16_t c : s)
            q += c == u'\\' ? u"\\\\" : c == u'"' ? u"\\\"" : c == u'\n' ? u"\\n" : c == 0 ? u"\\0" : std::u16string(1, c);
        return q + u"\"";
    }

    static std::u16string HexDigits(uint32_t v, int digits)
    {
        std::u16string out;
        for (int i = digits - 1; i >= 0; --i)
            out += u"0123456789abcdef"[v >> (4 * i) & 15];
        return out;
    }

    std::u16string Hex(const std::vector<uint8_t> &bytes) const
    {
        std::u16string out;
        for (size_t i = 0; i < bytes.size(); ++i) {
            out += HexDigits(bytes[i], 2);
            if (i + 1 < bytes.size())
                out += i % 20 == 19 ? u",\\" + end + u"  " : u","; // continued on the next line
        }
        return out;
    }

    void Value(Steps &steps, registry::RegKey &key)
    {
        std::u16string name = steps.Below(8) ? Name(steps, true) : u"";
        std::u16string line = name.empty() && steps.Below(2) ? u"@" : Quoted(name);
        line += steps.Below(4) ? u"=" : u" = ";
        unsigned kind = steps.Below(5);
        if (kind == 0) {
            expected.DeleteValue(key, name);
            Line(line + u"-");
            return;
        }
        registry::Type type = kind == 1 ? registry::kTypeSz : kind == 2 ? registry::kTypeDword : steps.Byte() % 12;
        std::vector<uint8_t> data;
        if (kind == 1) {
            std::u16string s = steps.Below(3) ? Name(steps, true) : u"";
            data = text::Utf16Bytes(s);
            line += Quoted(s);
        } else if (kind == 2) {
            uint32_t v = steps.Byte() * 0x01010101u ^ steps.Byte();
            data = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
            line += u"dword:" + HexDigits(v, 8);
        } else {
            for (unsigned n = steps.Below(50); n > 0; --n)
                data.push_back(static_cast<uint8_t>(steps.Byte()));
            line += (type == registry::kTypeBinary ? u"hex:" : u"hex(" + HexDigits(type, 1 + steps.Below(2)) + u"):") +
                    Hex(data);
            // 8-bit files hold expandable and multiple strings as 8-bit text.
            if (encoding == regfile::Encoding::Regedit4 &&
                (type == registry::kTypeExpandSz || type == registry::kTypeMultiSz)) {
                std::u16string wide;
                for (uint8_t b : data)
                    wide += text::FromCp1252(b);
                data = text::Utf16Bytes(wide, false);
            }
        }
        expected.SetValue(key, name, type, data);
        Line(line + (steps.Below(8) ? u"" : u" ; a comment"));
    }

    void Section(Steps &steps)
    {
        registry::Root root = registry::AllRoots()[steps.Below(5)];
        std::u16string path;
        for (unsigned depth = 1 + steps.Below(3); depth > 0; --depth)
            path += (path.empty() ? u"" : u"\\") + Name(steps, false);
        std::u16string rootName = text::U16(registry::RootName(root));
        char16_t &letter = rootName[5 + steps.Below(static_cast<unsigned>(rootName.size() - 5))];
        if (steps.Below(4) == 0 && letter != u'_')
            letter ^= 0x20; // the root spelt otherwise
        if (steps.Below(6) == 0) {
            expected.DeleteKey(root, path);
            Line(u"[-" + rootName + u"\\" + path + u"]");
            return;
        }
        registry::RegKey &key = expected.CreateKey(root, path);
        Line(u"[" + rootName + u"\\" + path + u"]");
        for (unsigned n = steps.Below(6); n > 0; --n)
            Value(steps, key);
        if (steps.Below(2))
            Line(u"");
    }

    std::string Bytes() const
    {
        std::u16string header = encoding == regfile::Encoding::Regedit4 ? u"REGEDIT4" : u"Windows Registry Editor Version 5.00";
        std::u16string all = header + end + end + text;
        std::string out;
        switch (encoding) {
        case regfile::Encoding::Regedit4:
            for (char16_t c : all)
                out += static_cast<char>(*text::ToCp1252(c));
            return out;
        case regfile::Encoding::Utf16: {
            std::vector<unsigned char> units = text::Utf16Bytes(all, false);
            return "\xFF\xFE" + std::string(units.begin(), units.end());
        }
        case regfile::Encoding::Utf8Bom:
            return "\xEF\xBB\xBF" + text::Utf8(all);
        default:
            return text::Utf8(all);
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Steps steps(data, size);
    Builder file;
    const regfile::Encoding encodings[] = {regfile::Encoding::Regedit4, regfile::Encoding::Utf16,
                                           regfile::Encoding::Utf8, regfile::Encoding::Utf8Bom};
    file.encoding = encodings[steps.Below(4)];
    const char16_t *ends[] = {u"\r\n", u"\n", u"\r"};
    file.end = ends[steps.Below(3)];
    while (steps.More())
        file.Section(steps);

    std::string bytes = file.Bytes();
    regfile::Loaded loaded;
    if (regfile::Load(bytes, loaded) || !fuzz::SameTree(loaded.registry, file.expected))
        abort(); // a well-formed file must load to what its lines say in turn
    std::string saved, again, error;
    if (!regfile::Save(loaded.registry, loaded.format, saved, error))
        abort();
    regfile::Loaded reloaded;
    if (regfile::Load(saved, reloaded) || !fuzz::SameTree(reloaded.registry, loaded.registry))
        abort();
    if (!regfile::Save(reloaded.registry, reloaded.format, again, error) || again != saved)
        abort();
    return 0;
}
