// Writes .reg files as registry editors do: a header, then each key's
// section in the registry's order, hex data folded near 80 columns. Each
// piece of a line (a folded hex line, a run of text) is encoded straight
// into a buffer of a block and a piece, and whole blocks go to the sink as
// they fill, so that the file is never held whole.
#include "regfile/regfile.h"

#include "regfile/scan.h"
#include "text/codecs.h"
#include "text/utf8_encoder.h"
#include "text/windows1252.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace regfile {
namespace {

// Hex data is folded once a line reaches this many characters.
constexpr size_t kHexFoldColumn = 77;
// Text is encoded in runs of this many units, each taking at most four
// bytes: an escape in UTF-16, a character beyond the BMP in UTF-8.
constexpr size_t kTextRun = 64;
// Room enough for any one piece of a line: a run of text (and the second
// half of a pair that ends it), a folded hex line of at most 26 bytes in
// UTF-16 with its fold, or a short fixed part.
constexpr size_t kPiece = 512;
static_assert(kTextRun * 4 + 4 <= kPiece && 26 * 6 + 2 + 10 <= kPiece, "a piece must fit");

constexpr char kDigits[] = "0123456789abcdef";

// Each byte's two digits and a comma, in 8-bit text and in UTF-16, padded
// so that a whole entry can be copied at once.
struct HexTables {
    std::array<std::array<char, 4>, 256> narrow{};
    std::array<std::array<char, 8>, 256> wide{};
};
constexpr HexTables kHex = [] {
    HexTables t;
    for (size_t b = 0; b < 256; ++b) {
        t.narrow[b] = {kDigits[b >> 4], kDigits[b & 15], ',', 0};
        t.wide[b] = {kDigits[b >> 4], 0, kDigits[b & 15], 0, ',', 0, 0, 0};
    }
    return t;
}();

// The bytes written and not yet taken by the sink: whole blocks go to it as
// soon as there are any. After the sink fails nothing more goes to it.
class Out {
public:
    Out(bytes::Sink &sink, size_t block)
        : sink_(sink), block_(block ? block : 1), buffer_(block_ + kPiece), at_(buffer_.data()),
          last_(buffer_.data() + block_)
    {
    }

    // Room for a piece of up to kPiece bytes, from the pointer given; Done
    // says where the piece ends.
    char *Room()
    {
        if (at_ > last_)
            Drain();
        return at_;
    }
    void Done(char *end) { at_ = end; }
    bool Failed() const { return failed_; }

    // The rest to the sink; false, with its reason, when it failed.
    bool Finish(std::string &error)
    {
        Drain();
        if (!failed_ && at_ != buffer_.data())
            failed_ = !sink_.Write({buffer_.data(), static_cast<size_t>(at_ - buffer_.data())}, error_);
        if (failed_)
            error = error_;
        return !failed_;
    }

private:
    void Drain()
    {
        char *from = buffer_.data();
        while (!failed_ && static_cast<size_t>(at_ - from) >= block_) {
            failed_ = !sink_.Write({from, block_}, error_);
            from += block_;
        }
        if (failed_) {
            at_ = buffer_.data();
            return;
        }
        size_t rest = static_cast<size_t>(at_ - from);
        std::memmove(buffer_.data(), from, rest);
        at_ = buffer_.data() + rest;
    }

    bytes::Sink &sink_;
    size_t block_;
    std::vector<char> buffer_;
    char *at_;
    char *last_; // the last place a piece fits from
    std::string error_;
    bool failed_ = false;
};

// UTF-16LE text in memory is the host's own on most machines: there, plain
// text is looked at and copied four characters at a time.
constexpr bool kLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

// Whether the four UTF-16 units in v are all printable ASCII, 0x20 to 0x7F.
bool PrintableAscii(std::uint64_t v)
{
    return (v & 0xFF80FF80FF80FF80u) == 0 && ((v + 0x0060006000600060u) & 0x0080008000800080u) == 0x0080008000800080u;
}

#if defined(__SSE2__)
// Whether the eight UTF-16LE units at le are all printable ASCII, 0x20 to
// 0x7F, and, quoted, neither a backslash nor a quote: v holds them.
template <bool kQuoted> bool PlainEight(const unsigned char *le, __m128i &v)
{
    v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(le));
    // Compared as signed: a unit from 0x8000 on is below 0x20.
    __m128i other = _mm_or_si128(_mm_cmplt_epi16(v, _mm_set1_epi16(0x20)), _mm_cmpgt_epi16(v, _mm_set1_epi16(0x7F)));
    if constexpr (kQuoted)
        other = _mm_or_si128(other, _mm_or_si128(_mm_cmpeq_epi16(v, _mm_set1_epi16('\\')),
                                                 _mm_cmpeq_epi16(v, _mm_set1_epi16('"'))));
    return _mm_movemask_epi8(other) == 0;
}
#endif

char16_t UnitAt(registry::Bytes data, size_t i)
{
    return static_cast<char16_t>(data[i] | (data[i + 1] << 8));
}

// The lines of a file in encoding E (UTF-8 with or without a mark alike).
template <Encoding E> class Writer {
public:
    // With replace, text the encoding cannot hold is shown as U+FFFD
    // instead of failing (UTF-8 only: for showing a key, not for a file).
    Writer(const Format &format, Out &out, bool replace = false)
        : lineEnd_(format.lineEnd), out_(out), replace_(replace)
    {
    }

    bool Failed() const { return !error_.empty() || out_.Failed(); }
    const std::string &Error() const { return error_; }
    void Refuse(std::string why) { error_ = std::move(why); }
    // A name or text that the file's encoding cannot hold: beyond
    // Windows-1252, or half a surrogate pair in UTF-8.
    void Unwritable(const std::string &what)
    {
        error_ = what + " cannot be written in " + kEncodingName + ", this file's encoding";
    }

    void Header()
    {
        char *p = out_.Room();
        if constexpr (E == Encoding::Utf16) {
            std::memcpy(p, "\xFF\xFE", 2);
            p += 2;
        }
        p = Ascii(p, E == Encoding::Regedit4 ? "REGEDIT4" : "Windows Registry Editor Version 5.00");
        out_.Done(NewLine(NewLine(p)));
    }

    void Section(std::u16string_view path, const registry::RegKey &key)
    {
        out_.Done(Ascii(out_.Room(), '['));
        if (!Encode<false>(path.size(), [&](size_t i) { return path[i]; }, Bytes(path))) {
            Unwritable("the key '" + text::Utf8(path) + "'");
            return;
        }
        out_.Done(NewLine(Ascii(out_.Room(), ']')));
        for (const auto &v : key.values) {
            Value(v);
            if (Failed())
                return;
        }
        out_.Done(NewLine(out_.Room()));
    }

private:
    static constexpr size_t kUnit = E == Encoding::Utf16 ? 2 : 1;
    static constexpr const char *kEncodingName = E == Encoding::Regedit4 ? "Windows-1252"
                                                 : E == Encoding::Utf16  ? "UTF-16LE"
                                                                         : "UTF-8";

    // A name's UTF-16LE bytes, where the host holds it so.
    static const unsigned char *Bytes(std::u16string_view name)
    {
        return kLittleEndian ? reinterpret_cast<const unsigned char *>(name.data()) : nullptr;
    }

    static char *Ascii(char *p, char c)
    {
        p[0] = c;
        if constexpr (kUnit == 2)
            p[1] = 0;
        return p + kUnit;
    }
    static char *Ascii(char *p, std::string_view s)
    {
        if constexpr (kUnit == 1) {
            std::memcpy(p, s.data(), s.size());
            return p + s.size();
        }
        for (char c : s)
            p = Ascii(p, c);
        return p;
    }
    char *NewLine(char *p)
    {
        if (lineEnd_ != LineEnd::Lf)
            p = Ascii(p, '\r');
        if (lineEnd_ != LineEnd::Cr)
            p = Ascii(p, '\n');
        column_ = 0;
        return p;
    }

    // Eight, or four, of the up to left UTF-16LE units at le that are
    // printable ASCII (and, quoted, need no escape) written at p as the
    // file holds them, at once: how many, or 0. Plain text is most of a
    // file.
    template <bool kQuoted> static size_t Plain(char *p, const unsigned char *le, size_t left)
    {
        if (!kLittleEndian)
            return 0;
#if defined(__SSE2__)
        __m128i v8;
        if (left >= 8 && PlainEight<kQuoted>(le, v8)) {
            if constexpr (kUnit == 1)
                _mm_storel_epi64(reinterpret_cast<__m128i *>(p), _mm_packus_epi16(v8, v8));
            else
                _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v8);
            return 8;
        }
#endif
        std::uint64_t v;
        if (left < 4 || (std::memcpy(&v, le, 8), !PrintableAscii(v)) ||
            (kQuoted && (HasLane16(v, '\\') || HasLane16(v, '"'))))
            return 0;
        if constexpr (kUnit == 1) {
            auto four = static_cast<std::uint32_t>((v & 0xFF) | (v >> 8 & 0xFF00) | (v >> 16 & 0xFF0000) |
                                                   (v >> 24 & 0xFF000000));
            std::memcpy(p, &four, 4);
        } else {
            std::memcpy(p, &v, 8);
        }
        return 4;
    }

    // Encodes unit(0) to unit(n - 1) in the file's encoding, escaped as the
    // loader (and Wine's reg export) reads a quoted string back when quoted:
    // a line end or NUL in a name must not end the line. False at the first
    // character the encoding cannot hold. le, where given, is the same text
    // as UTF-16LE bytes.
    template <bool kQuoted, typename UnitOf> bool Encode(size_t n, UnitOf unit, const unsigned char *le)
    {
        for (size_t i = 0; i < n;) {
            char *p = out_.Room();
            size_t start = i, stop = std::min(n, i + kTextRun), escapes = 0;
            for (; i < stop; ++i) {
                if (size_t plain = le ? Plain<kQuoted>(p, le + 2 * i, stop - i) : 0) {
                    p += plain * kUnit;
                    i += plain - 1;
                    continue;
                }
                char16_t c = unit(i);
                if (c < 0x80) {
                    if constexpr (kQuoted) {
                        char e = c == '\\' ? '\\' : c == '"' ? '"' : c == '\n' ? 'n' : c == '\r' ? 'r' : c == 0 ? '0' : 0;
                        if (e) {
                            p = Ascii(Ascii(p, '\\'), e);
                            ++escapes;
                            continue;
                        }
                    }
                    p = Ascii(p, static_cast<char>(c));
                } else if constexpr (E == Encoding::Utf16) {
                    p[0] = static_cast<char>(c & 0xFF);
                    p[1] = static_cast<char>(c >> 8);
                    p += 2;
                } else if constexpr (E == Encoding::Regedit4) {
                    auto b = text::ToCp1252(c);
                    if (!b) {
                        out_.Done(p);
                        return false;
                    }
                    *p++ = static_cast<char>(*b);
                } else {
                    char32_t cp = c;
                    if (text::IsHighSurrogate(c) && i + 1 < n && text::IsLowSurrogate(unit(i + 1))) {
                        cp = text::FromSurrogates(c, unit(++i));
                    } else if (text::IsHighSurrogate(c) || text::IsLowSurrogate(c)) {
                        if (!replace_) {
                            out_.Done(p);
                            return false;
                        }
                        cp = 0xFFFD;
                    }
                    p = text::PutUtf8(p, cp);
                }
            }
            column_ += i - start + escapes;
            out_.Done(p);
        }
        return true;
    }
    template <typename UnitOf> bool Quoted(size_t n, UnitOf unit, const unsigned char *le)
    {
        out_.Done(Ascii(out_.Room(), '"'));
        if (!Encode<true>(n, unit, le))
            return false;
        out_.Done(Ascii(out_.Room(), '"'));
        column_ += 2;
        return true;
    }

    // Whether a string value's data (kTypeSz) comes back exactly from its
    // quoted form: whole characters the file's encoding holds, no control
    // characters, one terminator at the very end.
    static bool Quotable(registry::Bytes data)
    {
        if (data.size() < 2 || data.size() % 2 || data[data.size() - 1] || data[data.size() - 2])
            return false;
        size_t chars = data.size() / 2 - 1;
        for (size_t i = 0; i < chars; ++i) {
#if defined(__SSE2__)
            __m128i v8;
            if (kLittleEndian && i + 8 <= chars && PlainEight<false>(data.data() + 2 * i, v8)) {
                i += 7;
                continue;
            }
#endif
            if (kLittleEndian && i + 4 <= chars) {
                std::uint64_t v;
                std::memcpy(&v, data.data() + 2 * i, 8);
                if (PrintableAscii(v)) {
                    i += 3;
                    continue;
                }
            }
            char16_t c = UnitAt(data, 2 * i);
            if (c < 0x20)
                return false;
            if (c < 0x80 || E == Encoding::Utf16)
                continue;
            if (E == Encoding::Regedit4 && !text::ToCp1252(c))
                return false;
            if (E == Encoding::Utf8 && (text::IsLowSurrogate(c) || text::IsHighSurrogate(c))) {
                if (text::IsLowSurrogate(c) || i + 1 >= chars || !text::IsLowSurrogate(UnitAt(data, 2 * i + 2)))
                    return false;
                ++i;
            }
        }
        return true;
    }

    void Value(const registry::RegValue &v)
    {
        std::u16string_view name = v.Name();
        registry::Bytes data = v.Data();
        if (name.empty()) {
            out_.Done(Ascii(out_.Room(), "@="));
            column_ = 2;
        } else {
            if (name.size() > registry::kMaxValueNameLength) {
                error_ = "the value name '" + text::Utf8(name.substr(0, 40)) + "...' is longer than the " +
                         std::to_string(registry::kMaxValueNameLength) + " characters a registry file may hold";
                return;
            }
            if (!Quoted(name.size(), [&](size_t i) { return name[i]; }, Bytes(name))) {
                Unwritable("the value name '" + text::Utf8(name) + "'");
                return;
            }
            out_.Done(Ascii(out_.Room(), '='));
            ++column_;
        }
        if (v.type == registry::kTypeSz && Quotable(data)) {
            Quoted(data.size() / 2 - 1, [&](size_t i) { return UnitAt(data, 2 * i); }, data.data());
        } else if (v.type == registry::kTypeDword && data.size() == 4) {
            unsigned d = data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<unsigned>(data[3]) << 24);
            char *p = Ascii(out_.Room(), "dword:");
            for (int shift = 28; shift >= 0; shift -= 4)
                p = Ascii(p, kDigits[(d >> shift) & 15]);
            out_.Done(p);
        } else {
            registry::Bytes bytes = data;
            if (E == Encoding::Regedit4 && (v.type == registry::kTypeExpandSz || v.type == registry::kTypeMultiSz)) {
                if (!Narrow(data)) {
                    Unwritable("the value '" + text::Utf8(name) + "'");
                    return;
                }
                bytes = narrow_;
            }
            char *p = out_.Room(), *start = p;
            if (v.type == registry::kTypeBinary) {
                p = Ascii(p, "hex:");
            } else {
                p = Ascii(p, "hex(");
                bool digits = false;
                for (int shift = 28; shift >= 0; shift -= 4) {
                    unsigned digit = (v.type >> shift) & 15;
                    digits = digits || digit != 0;
                    if (digits || shift == 0)
                        p = Ascii(p, kDigits[digit]);
                }
                p = Ascii(p, "):");
            }
            column_ += static_cast<size_t>(p - start) / kUnit;
            out_.Done(p);
            Hex(bytes);
        }
        out_.Done(NewLine(out_.Room()));
    }

    // UTF-16 text as the 8-bit bytes a REGEDIT4 file holds it in.
    bool Narrow(registry::Bytes wide)
    {
        if (wide.size() % 2)
            return false;
        narrow_.clear();
        for (size_t i = 0; i < wide.size(); i += 2) {
            auto b = text::ToCp1252(UnitAt(wide, i));
            if (!b)
                return false;
            narrow_.push_back(*b);
        }
        return true;
    }

    // Comma-separated bytes, a folded line at a time: a line is folded
    // after the byte that brings it to kHexFoldColumn, unless it is the last.
    void Hex(registry::Bytes data)
    {
        size_t column = column_;
        for (size_t i = 0, n = data.size(); i < n;) {
            size_t perLine = column >= kHexFoldColumn ? 1 : (kHexFoldColumn - column + 2) / 3;
            size_t stop = i + std::min(perLine, n - i);
            char *p = out_.Room();
            for (; i < stop; ++i) {
                if constexpr (kUnit == 1)
                    std::memcpy(p, kHex.narrow[data[i]].data(), 4);
                else
                    std::memcpy(p, kHex.wide[data[i]].data(), 8);
                p += 3 * kUnit;
            }
            if (i == n) {
                out_.Done(p - kUnit); // no comma after the last
                break;
            }
            p = Ascii(NewLine(Ascii(p, '\\')), "  ");
            column = 2;
            out_.Done(p);
        }
    }

    LineEnd lineEnd_;
    Out &out_;
    bool replace_;
    size_t column_ = 0; // in UTF-16 units, of the line being written
    std::string error_;
    std::vector<std::uint8_t> narrow_;
};

// Every key below a root in the registry's order, each with its full path;
// the path grows and shrinks as the walk goes down and up. What a registry
// file cannot hold so that it loads again (a key name with a line end in
// it, keys nested deeper than the registry's 512 levels) stops the save:
// the file is not written at all rather than written so that it no longer
// loads. The depth bound also bounds the recursion.
template <Encoding E>
void WriteTree(Writer<E> &w, std::u16string &path, const registry::RegKey &key, size_t depth)
{
    if (depth > 0 || !key.values.empty())
        w.Section(path, key);
    for (const registry::RegKey *sub : key.subkeys) {
        if (w.Failed())
            return;
        std::u16string_view name = sub->Name();
        if (name.find_first_of(u"\r\n") != std::u16string_view::npos) {
            w.Refuse("the key '" + text::Utf8(path) + "\\" + text::Utf8(name) +
                     "' has a line end in its name, which a registry file cannot hold");
            return;
        }
        if (depth + 1 > registry::kMaxKeyDepth) {
            w.Refuse("the key '" + text::Utf8(path.substr(0, 60)) + "...' lies deeper than the registry's " +
                     std::to_string(registry::kMaxKeyDepth) + " levels, which a registry file cannot hold");
            return;
        }
        size_t before = path.size();
        path += u'\\';
        path += name;
        WriteTree(w, path, *sub, depth + 1);
        path.resize(before);
    }
}

template <Encoding E> bool SaveAs(const registry::Tree &registry, const Format &format, Out &out, std::string &error)
{
    Writer<E> w(format, out);
    if (format.encoding == Encoding::Utf8Bom) {
        char *p = out.Room();
        std::memcpy(p, "\xEF\xBB\xBF", 3);
        out.Done(p + 3);
    }
    w.Header();
    for (registry::Root root : registry::AllRoots()) {
        std::u16string path = text::U16(registry::RootName(root));
        WriteTree(w, path, registry.RootKey(root), 0);
        if (w.Failed())
            break;
    }
    if (!w.Error().empty()) {
        error = w.Error();
        return false;
    }
    return out.Finish(error);
}

} // namespace

bool Save(const registry::Tree &registry, const Format &format, bytes::Sink &sink, std::string &error,
          size_t block)
{
    Out out(sink, block);
    switch (format.encoding) {
    case Encoding::Regedit4:
        return SaveAs<Encoding::Regedit4>(registry, format, out, error);
    case Encoding::Utf16:
        return SaveAs<Encoding::Utf16>(registry, format, out, error);
    case Encoding::Utf8:
    case Encoding::Utf8Bom:
        break;
    }
    return SaveAs<Encoding::Utf8>(registry, format, out, error);
}

bool Save(const registry::Tree &registry, const Format &format, std::string &bytes, std::string &error)
{
    bytes.clear();
    bytes::StringSink gathered(bytes);
    if (Save(registry, format, gathered, error))
        return true;
    bytes.clear();
    return false;
}

bool BeginsAsRegistryFile(std::string_view head)
{
    static const std::vector<std::string> beginnings = [] {
        std::vector<std::string> all;
        for (Encoding encoding : {Encoding::Regedit4, Encoding::Utf16, Encoding::Utf8, Encoding::Utf8Bom}) {
            std::string bytes, error;
            if (Save(registry::Tree(), Format{encoding, LineEnd::Lf}, bytes, error))
                all.push_back(bytes.substr(0, bytes.find('\n')));
        }
        return all;
    }();
    for (const std::string &beginning : beginnings)
        if (head.substr(0, beginning.size()) == beginning)
            return true;
    return false;
}

std::string KeySection(const std::string &path, const registry::RegKey &key)
{
    std::string bytes, error;
    bytes::StringSink gathered(bytes);
    Out out(gathered, kPiece);
    Writer<Encoding::Utf8> w(Format{Encoding::Utf8, LineEnd::Lf}, out, true);
    w.Section(text::U16(path), key);
    out.Finish(error);
    bytes.pop_back(); // the blank line that separates sections
    return bytes;
}

} // namespace regfile
