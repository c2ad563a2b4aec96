// Writes .reg files as registry editors do: a header, then each key's
// section in the registry's order, hex data folded near 80 columns.
#include "regfile.h"

#include "text.h"
#include "wtext.h"

#include <cstdio>

namespace regfile {
namespace {

// Hex data is folded once a line reaches this many characters.
constexpr size_t kHexFoldColumn = 77;

class Writer {
public:
    explicit Writer(Encoding encoding) : encoding_(encoding) {}

    bool Failed() const { return !error_.empty(); }
    const std::string &Error() const { return error_; }
    std::u16string &Text() { return text_; }

    // Can this text stand as it is in the file's encoding?
    bool Representable(std::u16string_view s) const
    {
        for (size_t i = 0; i < s.size(); ++i) {
            char16_t c = s[i];
            if (encoding_ == Encoding::Regedit4 && !ToCp1252(c))
                return false;
            if (encoding_ == Encoding::Utf8 || encoding_ == Encoding::Utf8Bom) {
                bool high = c >= 0xD800 && c < 0xDC00, low = c >= 0xDC00 && c < 0xE000;
                if (low)
                    return false;
                if (high) {
                    if (i + 1 >= s.size() || s[i + 1] < 0xDC00 || s[i + 1] >= 0xE000)
                        return false;
                    ++i;
                }
            }
        }
        return true;
    }

    void Name(std::u16string_view name, const char *what)
    {
        if (!Representable(name))
            error_ = std::string(what) + " '" + sim::Utf8(name) + "' cannot be written in this file's 8-bit encoding";
    }

    // A quoted name or text, escaped as the loader (and Wine's reg export)
    // reads it back: a line end or NUL in a name must not end the line.
    void Quoted(std::u16string_view s)
    {
        text_.push_back(u'"');
        for (char16_t c : s) {
            switch (c) {
            case u'\\': text_ += u"\\\\"; break;
            case u'"': text_ += u"\\\""; break;
            case u'\n': text_ += u"\\n"; break;
            case u'\r': text_ += u"\\r"; break;
            case u'\0': text_ += u"\\0"; break;
            default: text_.push_back(c); break;
            }
        }
        text_.push_back(u'"');
    }

    void Section(const std::u16string &path, const sim::RegKey &key)
    {
        Name(path, "the key");
        text_ += u"[" + path + u"]\n";
        for (const auto &v : key.values)
            Value(v);
        text_ += u"\n";
    }

    void Value(const sim::RegValue &v)
    {
        size_t lineStart = text_.size();
        if (v.name.empty()) {
            text_ += u"@=";
        } else {
            Name(v.name, "the value name");
            Quoted(v.name);
            text_ += u"=";
        }
        std::u16string s;
        if (v.type == REG_SZ && PlainString(v.data, s) && Representable(s)) {
            Quoted(s);
        } else if (v.type == REG_DWORD && v.data.size() == 4) {
            char buf[16];
            unsigned d = v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) | (static_cast<unsigned>(v.data[3]) << 24);
            std::snprintf(buf, sizeof buf, "dword:%08x", d);
            text_ += sim::U16(buf);
        } else {
            std::vector<BYTE> bytes = v.data;
            if (encoding_ == Encoding::Regedit4 && (v.type == REG_EXPAND_SZ || v.type == REG_MULTI_SZ) &&
                !Narrow(v.data, bytes)) {
                error_ = "the value '" + sim::Utf8(v.name) + "' cannot be written in this file's 8-bit encoding";
                return;
            }
            char buf[24];
            if (v.type == REG_BINARY)
                std::snprintf(buf, sizeof buf, "hex:");
            else
                std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(v.type));
            text_ += sim::U16(buf);
            Hex(bytes, text_.size() - lineStart);
        }
        text_ += u"\n";
    }

private:
    // A string that a "text" form gives back exactly: whole characters, no
    // control characters, one terminator at the very end.
    static bool PlainString(const std::vector<BYTE> &data, std::u16string &s)
    {
        if (data.size() < 2 || data.size() % 2 || data[data.size() - 1] || data[data.size() - 2])
            return false;
        s.clear();
        for (size_t i = 0; i + 2 < data.size(); i += 2) {
            char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
            if (c < 0x20)
                return false;
            s.push_back(c);
        }
        return true;
    }

    // UTF-16 text as the 8-bit bytes a REGEDIT4 file holds it in.
    static bool Narrow(const std::vector<BYTE> &wide, std::vector<BYTE> &narrow)
    {
        if (wide.size() % 2)
            return false;
        narrow.clear();
        for (size_t i = 0; i < wide.size(); i += 2) {
            auto b = ToCp1252(static_cast<char16_t>(wide[i] | (wide[i + 1] << 8)));
            if (!b)
                return false;
            narrow.push_back(*b);
        }
        return true;
    }

    void Hex(const std::vector<BYTE> &data, size_t column)
    {
        static const char16_t kDigits[] = u"0123456789abcdef";
        for (size_t i = 0; i < data.size(); ++i) {
            text_.push_back(kDigits[data[i] >> 4]);
            text_.push_back(kDigits[data[i] & 15]);
            if (i + 1 == data.size())
                break;
            text_.push_back(u',');
            column += 3;
            if (column >= kHexFoldColumn) {
                text_ += u"\\\n  ";
                column = 2;
            }
        }
    }

    Encoding encoding_;
    std::u16string text_;
    std::string error_;
};

void WriteTree(Writer &w, const std::u16string &path, const sim::RegKey &key, bool isRoot)
{
    if (!isRoot || !key.values.empty())
        w.Section(path, key);
    for (const auto &sub : key.subkeys)
        WriteTree(w, path + u"\\" + sub->name, *sub, false);
}

std::string Encode(const std::u16string &text, const Format &format)
{
    std::string out;
    auto newline = [&](std::string &o) {
        if (format.lineEnd != LineEnd::Lf)
            o += '\r';
        if (format.lineEnd != LineEnd::Cr)
            o += '\n';
    };
    switch (format.encoding) {
    case Encoding::Utf16:
        out.reserve(text.size() * 2 + 64);
        out += "\xFF\xFE";
        for (char16_t c : text) {
            if (c == u'\n' && format.lineEnd != LineEnd::Lf)
                out += std::string("\r\0", 2);
            if (c == u'\n' && format.lineEnd == LineEnd::Cr)
                continue;
            out.push_back(static_cast<char>(c & 0xFF));
            out.push_back(static_cast<char>(c >> 8));
        }
        break;
    case Encoding::Regedit4:
        out.reserve(text.size() + 64);
        for (char16_t c : text) {
            if (c == u'\n')
                newline(out);
            else
                out.push_back(static_cast<char>(*ToCp1252(c)));
        }
        break;
    case Encoding::Utf8:
    case Encoding::Utf8Bom: {
        if (format.encoding == Encoding::Utf8Bom)
            out += "\xEF\xBB\xBF";
        size_t start = 0;
        out.reserve(text.size() + 64);
        for (size_t i = 0; i <= text.size(); ++i) {
            if (i == text.size() || text[i] == u'\n') {
                out += sim::Utf8(std::u16string_view(text).substr(start, i - start));
                if (i < text.size())
                    newline(out);
                start = i + 1;
            }
        }
        break;
    }
    }
    return out;
}

} // namespace

bool Save(const sim::Registry &registry, const Format &format, std::string &bytes, std::string &error)
{
    Writer w(format.encoding);
    w.Text() = format.encoding == Encoding::Regedit4 ? u"REGEDIT4\n\n" : u"Windows Registry Editor Version 5.00\n\n";
    for (HKEY root : sim::Registry::Roots())
        WriteTree(w, sim::U16(sim::Registry::RootName(root)), *registry.Root(root), true);
    if (w.Failed()) {
        error = w.Error();
        return false;
    }
    bytes = Encode(w.Text(), format);
    return true;
}

std::string KeySection(const std::string &path, const sim::RegKey &key)
{
    Writer w(Encoding::Utf8);
    w.Section(sim::U16(path), key);
    std::u16string &text = w.Text();
    text.pop_back(); // the blank line that separates sections
    return sim::Utf8(text);
}

} // namespace regfile
