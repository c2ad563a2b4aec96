// Writes .reg files as registry editors do: a header, then each key's
// section in the registry's order, hex data folded near 80 columns. Text is
// encoded straight into the output bytes as it is written.
#include "regfile/regfile.h"

#include "regfile/text.h"
#include "registry/names.h"
#include "text/codecs.h"

#include <cstdio>

namespace regfile {
namespace {

// Hex data is folded once a line reaches this many characters.
constexpr size_t kHexFoldColumn = 77;

// The output bytes in the file's encoding and line ends, and the column
// (in characters) the current line has reached.
class Sink {
public:
    Sink(const Format &format, std::string &out) : format_(format), out_(out) {}

    void Put(char16_t c)
    {
        ++column_;
        switch (format_.encoding) {
        case Encoding::Utf16:
            out_.push_back(static_cast<char>(c & 0xFF));
            out_.push_back(static_cast<char>(c >> 8));
            break;
        case Encoding::Regedit4:
            out_.push_back(static_cast<char>(c < 0x80 ? c : *ToCp1252(c))); // checked before
            break;
        case Encoding::Utf8:
        case Encoding::Utf8Bom:
            PutUtf8(c);
            break;
        }
    }
    void Put(std::u16string_view s)
    {
        for (char16_t c : s)
            Put(c);
    }
    void Ascii(std::string_view s)
    {
        column_ += s.size();
        if (format_.encoding != Encoding::Utf16) {
            out_ += s;
            return;
        }
        for (char c : s) {
            out_.push_back(c);
            out_.push_back('\0');
        }
    }
    void NewLine()
    {
        if (format_.lineEnd != LineEnd::Lf)
            Ascii("\r");
        if (format_.lineEnd != LineEnd::Cr)
            Ascii("\n");
        column_ = 0;
    }
    size_t Column() const { return column_; }

private:
    void PutUtf8(char16_t c)
    {
        if (c < 0x80) {
            out_.push_back(static_cast<char>(c));
        } else if (c >= 0xD800 && c < 0xDC00) {
            high_ = c; // paired with the next unit, as checked before
        } else if (c >= 0xDC00 && c < 0xE000) {
            char32_t cp = 0x10000 + ((static_cast<char32_t>(high_) - 0xD800) << 10) + (c - 0xDC00);
            out_.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out_.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out_.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out_.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (c < 0x800) {
            out_.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out_.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out_.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out_.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out_.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }

    const Format &format_;
    std::string &out_;
    size_t column_ = 0;
    char16_t high_ = 0;
};

// A registry::kTypeSz's data as the text form gives it back exactly: whole characters,
// no control characters, one terminator at the very end.
bool PlainString(registry::Bytes data)
{
    if (data.size() < 2 || data.size() % 2 || data[data.size() - 1] || data[data.size() - 2])
        return false;
    for (size_t i = 0; i + 2 < data.size(); i += 2)
        if (data[i + 1] == 0 && data[i] < 0x20)
            return false;
    return true;
}

char16_t UnitAt(registry::Bytes data, size_t i)
{
    return static_cast<char16_t>(data[i] | (data[i + 1] << 8));
}

class Writer {
public:
    Writer(const Format &format, std::string &out) : encoding_(format.encoding), sink_(format, out) {}

    bool Failed() const { return !error_.empty(); }
    const std::string &Error() const { return error_; }
    Sink &sink() { return sink_; }

    // Can this text stand as it is in the file's encoding?
    template <typename UnitOf>
    bool Representable(size_t n, UnitOf unit) const
    {
        for (size_t i = 0; i < n; ++i) {
            char16_t c = unit(i);
            if (encoding_ == Encoding::Regedit4 && c >= 0x80 && !ToCp1252(c))
                return false;
            if (encoding_ == Encoding::Utf8 || encoding_ == Encoding::Utf8Bom) {
                bool high = c >= 0xD800 && c < 0xDC00, low = c >= 0xDC00 && c < 0xE000;
                if (low)
                    return false;
                if (high) {
                    if (i + 1 >= n || unit(i + 1) < 0xDC00 || unit(i + 1) >= 0xE000)
                        return false;
                    ++i;
                }
            }
        }
        return true;
    }
    bool Representable(std::u16string_view s) const
    {
        return Representable(s.size(), [&](size_t i) { return s[i]; });
    }

    void Name(std::u16string_view name, const char *what)
    {
        if (!Representable(name))
            error_ = std::string(what) + " '" + text::Utf8(name) + "' cannot be written in this file's 8-bit encoding";
    }

    void Section(std::u16string_view path, const registry::RegKey &key)
    {
        Name(path, "the key");
        sink_.Ascii("[");
        sink_.Put(path);
        sink_.Ascii("]");
        sink_.NewLine();
        for (const auto &v : key.values)
            Value(v);
        sink_.NewLine();
    }

    void Value(const registry::RegValue &v)
    {
        std::u16string_view name = v.Name();
        registry::Bytes data = v.Data();
        if (name.empty()) {
            sink_.Ascii("@=");
        } else {
            Name(name, "the value name");
            Quoted(name.size(), [&](size_t i) { return name[i]; });
            sink_.Ascii("=");
        }
        size_t chars = data.size() / 2 - (data.size() >= 2 ? 1 : 0);
        auto unit = [&](size_t i) { return UnitAt(data, 2 * i); };
        if (v.type == registry::kTypeSz && PlainString(data) && Representable(chars, unit)) {
            Quoted(chars, unit);
        } else if (v.type == registry::kTypeDword && data.size() == 4) {
            char buf[16];
            unsigned d = data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<unsigned>(data[3]) << 24);
            std::snprintf(buf, sizeof buf, "dword:%08x", d);
            sink_.Ascii(buf);
        } else {
            std::vector<std::uint8_t> narrow;
            registry::Bytes bytes = data;
            if (encoding_ == Encoding::Regedit4 && (v.type == registry::kTypeExpandSz || v.type == registry::kTypeMultiSz)) {
                if (!Narrow(data, narrow)) {
                    error_ = "the value '" + text::Utf8(name) + "' cannot be written in this file's 8-bit encoding";
                    return;
                }
                bytes = narrow;
            }
            char buf[24];
            if (v.type == registry::kTypeBinary)
                std::snprintf(buf, sizeof buf, "hex:");
            else
                std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(v.type));
            sink_.Ascii(buf);
            Hex(bytes);
        }
        sink_.NewLine();
    }

private:
    // A quoted name or text, escaped as the loader (and Wine's reg export)
    // reads it back: a line end or NUL in a name must not end the line.
    template <typename UnitOf>
    void Quoted(size_t n, UnitOf unit)
    {
        sink_.Ascii("\"");
        for (size_t i = 0; i < n; ++i) {
            char16_t c = unit(i);
            switch (c) {
            case u'\\': sink_.Ascii("\\\\"); break;
            case u'"': sink_.Ascii("\\\""); break;
            case u'\n': sink_.Ascii("\\n"); break;
            case u'\r': sink_.Ascii("\\r"); break;
            case u'\0': sink_.Ascii("\\0"); break;
            default: sink_.Put(c); break;
            }
        }
        sink_.Ascii("\"");
    }

    // UTF-16 text as the 8-bit bytes a REGEDIT4 file holds it in.
    static bool Narrow(registry::Bytes wide, std::vector<std::uint8_t> &narrow)
    {
        if (wide.size() % 2)
            return false;
        narrow.clear();
        narrow.reserve(wide.size() / 2);
        for (size_t i = 0; i < wide.size(); i += 2) {
            auto b = ToCp1252(UnitAt(wide, i));
            if (!b)
                return false;
            narrow.push_back(*b);
        }
        return true;
    }

    void Hex(registry::Bytes data)
    {
        static const char kDigits[] = "0123456789abcdef";
        for (size_t i = 0; i < data.size(); ++i) {
            char pair[3] = {kDigits[data[i] >> 4], kDigits[data[i] & 15], ','};
            bool last = i + 1 == data.size();
            sink_.Ascii(std::string_view(pair, last ? 2 : 3));
            if (!last && sink_.Column() >= kHexFoldColumn) {
                sink_.Ascii("\\");
                sink_.NewLine();
                sink_.Ascii("  ");
            }
        }
    }

    Encoding encoding_;
    Sink sink_;
    std::string error_;
};

// Every key below a root in the registry's order, each with its full path;
// the path grows and shrinks as the walk goes down and up (at most the
// registry's 512 levels, so the recursion is bounded).
void WriteTree(Writer &w, std::u16string &path, const registry::RegKey &key, bool isRoot)
{
    if (!isRoot || !key.values.empty())
        w.Section(path, key);
    for (const registry::RegKey *sub : key.subkeys) {
        size_t before = path.size();
        path += u'\\';
        path += sub->Name();
        WriteTree(w, path, *sub, false);
        path.resize(before);
    }
}

} // namespace

bool Save(const registry::Tree &registry, const Format &format, std::string &bytes, std::string &error)
{
    bytes.clear();
    if (format.encoding == Encoding::Utf16)
        bytes += "\xFF\xFE";
    else if (format.encoding == Encoding::Utf8Bom)
        bytes += "\xEF\xBB\xBF";
    Writer w(format, bytes);
    w.sink().Ascii(format.encoding == Encoding::Regedit4 ? "REGEDIT4" : "Windows Registry Editor Version 5.00");
    w.sink().NewLine();
    w.sink().NewLine();
    for (registry::Root root : registry::AllRoots()) {
        std::u16string path = text::U16(registry::RootName(root));
        WriteTree(w, path, registry.RootKey(root), true);
        if (w.Failed())
            break;
    }
    if (w.Failed()) {
        error = w.Error();
        bytes.clear();
        return false;
    }
    return true;
}

std::string KeySection(const std::string &path, const registry::RegKey &key)
{
    std::string out;
    Format format{Encoding::Utf8, LineEnd::Lf};
    Writer w(format, out);
    w.Section(text::U16(path), key);
    out.pop_back(); // the blank line that separates sections
    return out;
}

} // namespace regfile
