// Reads .reg files strictly. A registry editor's importer skips what it does
// not understand; these files are written back, so anything skipped would be
// lost, and the whole file is refused instead.
//
// Lines are parsed in the file's own units: 8-bit text byte by byte, UTF-16
// where it lies; only names and text are widened as they are kept. UTF-8
// lines are decoded one at a time.
#include "regfile/regfile.h"

#include "regfile/gather.h"
#include "regfile/lines.h"
#include "regfile/scan.h"
#include "registry/names.h"
#include "text/codecs.h"
#include "text/windows1252.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <cstdint>
#include <vector>

namespace regfile {
namespace {

const char16_t kHeader4[] = u"REGEDIT4";
const char16_t kHeader5[] = u"Windows Registry Editor Version 5.00";

enum class Kind { Cp1252, Utf8, Utf16 };

struct Fault {
    size_t line;
    std::string message;
};

// The roots by the names files give them.
const std::vector<std::pair<registry::Root, std::u16string>> &RootNames()
{
    static const auto names = [] {
        std::vector<std::pair<registry::Root, std::u16string>> v;
        for (registry::Root r : registry::AllRoots())
            v.emplace_back(r, text::U16(registry::RootName(r)));
        return v;
    }();
    return names;
}

// A unit as a number, and as a character.
unsigned Code(char c) { return static_cast<unsigned char>(c); }
unsigned Code(char16_t c) { return c; }

// Writes n units at out as UTF-16.
char16_t *WidenTo(char16_t *out, const char *units, size_t n) { return text::FromCp1252(units, n, out); }

void AppendWide(std::u16string &to, const char *units, size_t n)
{
    size_t at = to.size();
    to.resize(at + n);
    WidenTo(&to[at], units, n);
}
void AppendWide(std::u16string &to, const char16_t *units, size_t n) { to.append(units, n); }

// Registry data holds UTF-16 little-endian: text written in the host's
// order is turned where that is not the same.
void LittleEndian(char16_t *text, size_t n)
{
    if constexpr (__BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__)
        for (size_t i = 0; i < n; ++i)
            text[i] = static_cast<char16_t>(text[i] << 8 | text[i] >> 8);
}

// What Unquote gives for a string it cannot read.
constexpr size_t kFailed = SIZE_MAX;

template <typename Unit> std::u16string Wide(std::basic_string_view<Unit> s)
{
    std::u16string w;
    AppendWide(w, s.data(), s.size());
    return w;
}

// A piece of a line for a message: a long one is cut with an ellipsis.
std::string Excerpt(std::u16string_view text)
{
    constexpr size_t kMax = 60;
    return text.size() > kMax ? text::Utf8(text.substr(0, kMax)) + "..." : text::Utf8(text);
}
template <typename Unit> std::string Excerpt(std::basic_string_view<Unit> s)
{
    return Excerpt(Wide(s.substr(0, 61)));
}

// Hex digits by unit; -1 for anything else.
const std::array<signed char, 256> kHexDigits = [] {
    std::array<signed char, 256> t{};
    for (unsigned c = 0; c < 256; ++c)
        t[c] = c >= '0' && c <= '9' ? static_cast<signed char>(c - '0')
               : c >= 'a' && c <= 'f' ? static_cast<signed char>(c - 'a' + 10)
               : c >= 'A' && c <= 'F' ? static_cast<signed char>(c - 'A' + 10)
                                      : -1;
    return t;
}();
int HexDigit(unsigned c) { return c < 256 ? kHexDigits[c] : -1; }
int HexDigit(char c) { return kHexDigits[static_cast<unsigned char>(c)]; }
int HexDigit(char16_t c) { return HexDigit(static_cast<unsigned>(c)); }

template <typename Unit> bool IsBlank(Unit c) { return c == ' ' || c == '\t'; }

// Reads the header, then each value or section line, following
// continuation lines, in units of Unit.
template <typename Unit> class Parser {
public:
    using View = std::basic_string_view<Unit>;

    Parser(LineReader &lines, Loaded &out, Kind kind, Deletions deletions)
        : lines_(lines), out_(out), kind_(kind), deletions_(deletions), gather_(out.registry)
    {
    }

    std::optional<Fault> Run()
    {
        if (Header()) {
            while (!fault_ && NextLine()) {
                SkipBlanks();
                if (AtEnd() || line_[pos_] == ';')
                    continue;
                if (line_[pos_] == '[')
                    Section();
                else if (line_[pos_] == '"' || line_[pos_] == '@')
                    Value();
                else
                    Error("malformed line: expected [key] or \"name\"=value");
            }
        }
        if (!fault_)
            gather_.Settle();
        else if (kind_ == Kind::Utf8 && !badText_)
            CheckRestIsUtf8();
        return fault_;
    }

private:
    bool NextLine()
    {
        if (!lines_.Next())
            return false;
        row_ = lines_.Number() - 1;
        pos_ = 0;
        std::string_view bytes = lines_.Bytes();
        if constexpr (std::is_same_v<Unit, char>) {
            line_ = bytes;
        } else if (kind_ == Kind::Utf8) {
            if (!text::DecodeUtf8(bytes, buffer_, text::Utf8Errors::Refuse)) {
                fault_ = Fault{row_ + 1, "invalid UTF-8"};
                badText_ = true;
                return false;
            }
            line_ = buffer_;
        } else {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
            // The bytes are the text: seen in place, through a type that
            // may alias them.
            typedef char16_t __attribute__((may_alias)) Unit16;
            if (reinterpret_cast<std::uintptr_t>(bytes.data()) % alignof(char16_t) == 0) {
                line_ = View(reinterpret_cast<const Unit16 *>(bytes.data()), bytes.size() / 2);
                return true;
            }
#endif
            buffer_ = text::FromUtf16Bytes(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size());
            line_ = buffer_;
        }
        return true;
    }

    // A bad byte anywhere in a UTF-8 file is reported before anything it
    // would hide, as the first fault in the file would be.
    void CheckRestIsUtf8()
    {
        while (lines_.Next())
            if (!text::ValidUtf8(lines_.Bytes())) {
                fault_ = Fault{lines_.Number(), "invalid UTF-8"};
                return;
            }
    }

    bool Header()
    {
        if (!NextLine()) {
            Error("missing header: expected REGEDIT4 or Windows Registry Editor Version 5.00");
            return false;
        }
        View header = line_;
        while (!header.empty() && IsBlank(header.back()))
            header.remove_suffix(1);
        std::u16string wide = Wide(header.substr(0, 61));
        bool v4 = wide == kHeader4;
        bool v5 = wide == kHeader5;
        if (!v4 && !v5) {
            Error("missing or unknown header '" + Excerpt(std::u16string_view(wide).substr(0, 60)) +
                  "': expected REGEDIT4 or Windows Registry Editor Version 5.00");
            return false;
        }
        bool ansi = kind_ == Kind::Cp1252;
        if (v4 != ansi) {
            Error(v4 ? "a REGEDIT4 file must be 8-bit text, not UTF-16 or UTF-8 with a mark"
                     : "a Version 5.00 file must be UTF-16 or UTF-8");
            return false;
        }
        out_.format.lineEnd = lines_.Ending().value_or(LineEnd::CrLf);
        return true;
    }

    bool AtEnd() const { return pos_ >= line_.size(); }
    void SkipBlanks()
    {
        while (!AtEnd() && IsBlank(line_[pos_]))
            ++pos_;
    }
    void Error(std::string message)
    {
        if (!fault_)
            fault_ = Fault{row_ + 1, std::move(message)};
    }
    // Whether a line may delete what, here; the fault if not.
    bool Deletable(const char *what)
    {
        if (deletions_ == Deletions::Allowed)
            return true;
        Error(std::string("a line that deletes ") + what + ", which this file may not hold");
        return false;
    }
    // Only blanks, or a comment, may follow a complete line.
    void ExpectLineEnd()
    {
        SkipBlanks();
        if (!AtEnd() && line_[pos_] != ';')
            Error("unexpected text after the value: '" + Excerpt(line_.substr(pos_)) + "'");
    }

    // A section's path as UTF-16, seen in place or widened.
    std::u16string_view PathText(std::u16string_view units) { return units; }
    std::u16string_view PathText(std::string_view units)
    {
        if (path_.size() < units.size())
            path_.resize(units.size());
        WidenTo(&path_[0], units.data(), units.size());
        return {path_.data(), units.size()};
    }

    void Section()
    {
        gather_.SectionEnds();
        ++pos_;
        bool remove = !AtEnd() && line_[pos_] == '-';
        if (remove && !Deletable("a key"))
            return;
        if (remove)
            ++pos_;
        size_t close = line_.rfind(']');
        if (close == View::npos || close < pos_) {
            Error("malformed section: no closing ']'");
            return;
        }
        View units = line_.substr(pos_, close - pos_);
        pos_ = close + 1;
        ExpectLineEnd();
        if (fault_ || (!remove && OpenAfterLast(units)))
            return;

        std::u16string_view path = PathText(units);
        size_t slash = path.find(u'\\');
        std::u16string_view rootName = path.substr(0, slash);
        std::u16string_view subkey = slash == std::u16string_view::npos ? u"" : path.substr(slash + 1);
        std::optional<registry::Root> root = FindRoot(rootName);
        if (!root) {
            Error("unknown root '" + Excerpt(rootName) + "'");
            return;
        }
        parts_.clear();
        if (slash != std::u16string_view::npos && !SplitSection(path, subkey))
            return;
        if (!remove) {
            OpenSection(*root, units);
        } else if (subkey.empty()) {
            Error("a root key cannot be deleted");
        } else {
            gather_.Settle();
            lastKeys_.clear();
            out_.registry.DeleteKey(*root, subkey);
            key_ = nullptr;
            inDeletion_ = true;
        }
    }

    std::optional<registry::Root> FindRoot(std::u16string_view rootName) const
    {
        for (const auto &[root, name] : RootNames())
            if (registry::EqualNoCase(rootName, name))
                return root;
        return std::nullopt;
    }

    // The subkey's names into parts_. Every component of a section's path
    // must be named: the registry's calls take a run of backslashes, or a
    // trailing one, as a single separator, and the key would be written
    // back spelt otherwise.
    bool SplitSection(std::u16string_view path, std::u16string_view subkey)
    {
        registry::PathError split = registry::SplitPath(subkey, parts_);
        if (split == registry::PathError::NameTooLong) {
            Error("key name longer than " + std::to_string(registry::kMaxKeyNameLength) + " characters");
            return false;
        }
        size_t named = parts_.size() - 1; // the backslashes between them
        for (std::u16string_view part : parts_)
            named += part.size();
        if (split == registry::PathError::LeadingBackslash || parts_.empty() || named != subkey.size()) {
            Error("malformed section: empty key name in '" + Excerpt(path) + "'");
            return false;
        }
        if (parts_.size() > registry::kMaxKeyDepth) {
            Error("key path deeper than the registry's " + std::to_string(registry::kMaxKeyDepth) + " levels");
            return false;
        }
        return true;
    }

    // Sections mostly follow the tree: the previous section's keys are
    // taken again for the parts spelt the same.
    void OpenSection(registry::Root root, View units)
    {
        registry::RegKey *key = &out_.registry.RootKey(root);
        size_t same = 0;
        while (root == lastRoot_ && same < parts_.size() && same < lastKeys_.size() &&
               parts_[same] == lastKeys_[same]->Name())
            ++same;
        lastKeys_.resize(same);
        if (same > 0)
            key = lastKeys_.back();
        for (size_t i = same; i < parts_.size(); ++i) {
            key = &gather_.Child(*key, parts_[i]);
            lastKeys_.push_back(key);
        }
        lastRoot_ = root;
        lastPath_.assign(units.data(), units.size());
        lastEnds_.clear();
        for (size_t i = 0; i < units.size(); ++i)
            if (units[i] == '\\')
                lastEnds_.push_back(i);
        lastEnds_.push_back(units.size());
        key_ = key;
        inDeletion_ = false;
    }

    // A section whose path starts as the last one opened does, up to the
    // end of a name, takes that one's keys for those names and looks up
    // only the rest. A rest with a name empty or too long, or too deep, is
    // left to the general way, which says what is wrong.
    bool OpenAfterLast(View units)
    {
        if (lastKeys_.empty())
            return false;
        size_t common = CommonPrefix(units.data(), lastPath_.data(), std::min(units.size(), lastPath_.size()));
        size_t shared = 0; // names spelt the same, the root's first
        while (shared < lastEnds_.size() && lastEnds_[shared] < common)
            ++shared;
        if (shared < lastEnds_.size() && lastEnds_[shared] == common && (common == units.size() || units[common] == '\\'))
            ++shared;
        if (shared == 0 || (shared == 1 && lastEnds_[0] == units.size()))
            return false; // another root, or the root alone
        ends_.clear();
        for (size_t end = lastEnds_[shared - 1]; end < units.size();) {
            size_t start = end + 1;
            end = start + FindEither(units.data() + start, units.size() - start, Unit('\\'), Unit('\\'));
            if (end == start || end - start > registry::kMaxKeyNameLength ||
                shared - 1 + ends_.size() + 1 > registry::kMaxKeyDepth)
                return false;
            ends_.push_back(end);
        }
        lastKeys_.resize(shared - 1);
        lastEnds_.resize(shared);
        registry::RegKey *key = shared > 1 ? lastKeys_.back() : &out_.registry.RootKey(lastRoot_);
        for (size_t end : ends_) {
            size_t start = lastEnds_.back() + 1;
            key = &gather_.Child(*key, PathText(units.substr(start, end - start)));
            lastKeys_.push_back(key);
            lastEnds_.push_back(end);
        }
        lastPath_.assign(units.data(), units.size());
        key_ = key;
        inDeletion_ = false;
        return true;
    }

    // A quoted string with \\ and \" (and \n, \r, \0, as registry editors
    // write them) from pos_ at its opening quote, written as UTF-16 at out,
    // which has room for the rest of the line: the characters written, or
    // kFailed. Plain runs between escapes go in whole.
    size_t Unquote(char16_t *out)
    {
        char16_t *at = out;
        ++pos_;
        while (!AtEnd()) {
            size_t run = CopyUntilEither(line_.data() + pos_, line_.size() - pos_, Unit('"'), Unit('\\'), at);
            at += run;
            pos_ += run;
            if (AtEnd())
                break;
            Unit c = line_[pos_++];
            if (c == '"')
                return static_cast<size_t>(at - out);
            if (AtEnd())
                break;
            Unit e = line_[pos_++];
            switch (Code(e)) {
            case '\\': *at++ = u'\\'; break;
            case '"': *at++ = u'"'; break;
            case 'n': *at++ = u'\n'; break;
            case 'r': *at++ = u'\r'; break;
            case '0': *at++ = u'\0'; break;
            default:
                Error("unknown escape '\\" + text::Utf8(std::u16string(1, WideUnit(e))) + "'");
                return kFailed;
            }
        }
        Error("unterminated string");
        return kFailed;
    }

    bool Keyword(std::string_view word)
    {
        if (line_.size() - pos_ < word.size())
            return false;
        for (size_t i = 0; i < word.size(); ++i)
            if (Code(line_[pos_ + i]) != static_cast<unsigned char>(word[i]))
                return false;
        pos_ += word.size();
        return true;
    }

    // A value line. Its name and data cannot be longer than the line: they
    // are written once, straight into the tree, in room sized from it.
    void Value()
    {
        size_t bytes = 2 * (line_.size() - pos_ + 1);
        char16_t *room = out_.registry.Room(bytes);
        Made made;
        if (!NameAndEquals(room, made.name) || !Data(room, bytes, made) || (ExpectLineEnd(), fault_)) {
            registry::RegValue none;
            out_.registry.MadeIn(none, room, bytes, 0, registry::kTypeNone, 0);
            return;
        }
        registry::RegValue &value = gather_.Value(*key_, made.remove);
        out_.registry.MadeIn(value, room, bytes, made.name, made.type, made.size);
        if (made.elsewhere.data()) // too long for the room: the name, kept there, goes with it
            value = out_.registry.MakeValue(value.Name(), made.type, made.elsewhere);
    }

    // What a value line gave: its data in the room after the name (size
    // bytes), or elsewhere, where it did not fit.
    struct Made {
        size_t name = 0;
        registry::Type type = registry::kTypeNone;
        size_t size = 0;
        registry::Bytes elsewhere;
        bool remove = false;
    };

    // The name, written at room, and the '=' after it, in a key's section.
    bool NameAndEquals(char16_t *room, size_t &name)
    {
        if (line_[pos_] == '@') {
            ++pos_;
        } else {
            if ((name = Unquote(room)) == kFailed)
                return false;
            if (name > registry::kMaxValueNameLength) {
                Error("value name longer than " + std::to_string(registry::kMaxValueNameLength) + " characters");
                return false;
            }
        }
        SkipBlanks();
        if (AtEnd() || line_[pos_] != '=') {
            Error("malformed value line: expected '=' after the name");
            return false;
        }
        ++pos_;
        SkipBlanks();
        if (!key_ && !inDeletion_) {
            Error("value before any key");
            return false;
        }
        if (inDeletion_) {
            Error("value in the section of a deleted key");
            return false;
        }
        return true;
    }

    // The data after the '=', up to what may follow it on its line.
    bool Data(char16_t *room, size_t bytes, Made &made)
    {
        auto *at = reinterpret_cast<std::uint8_t *>(room + made.name);
        if (!AtEnd() && line_[pos_] == '"') {
            size_t length = Unquote(room + made.name);
            if (length == kFailed)
                return false;
            room[made.name + length] = u'\0';
            LittleEndian(room + made.name, length + 1);
            made.type = registry::kTypeSz;
            made.size = 2 * (length + 1);
            return true;
        }
        if (!AtEnd() && line_[pos_] == '-') {
            ++pos_;
            made.remove = true;
            return Deletable("a value");
        }
        if (Keyword("dword:")) {
            registry::Type v;
            if (!Dword(v))
                return false;
            made.type = registry::kTypeDword;
            made.size = 4;
            for (int i = 0; i < 4; ++i)
                at[i] = static_cast<std::uint8_t>(v >> 8 * i);
            return true;
        }
        return HexData(room, bytes, made);
    }

    // hex: and hex(type): data, which may go on for lines; it is put after
    // the name where it fits.
    bool HexData(char16_t *room, size_t bytes, Made &made)
    {
        std::vector<std::uint8_t> &data = data_;
        data.clear();
        if (Keyword("hex:")) {
            made.type = registry::kTypeBinary;
            if (!HexBytes(data))
                return false;
        } else if (Keyword("hex(")) {
            if (!HexType(made.type) || !HexBytes(data))
                return false;
            // 8-bit files hold expandable and multiple strings as 8-bit text,
            // which the registry keeps as UTF-16.
            if (kind_ == Kind::Cp1252 && (made.type == registry::kTypeExpandSz || made.type == registry::kTypeMultiSz))
                WidenBytes(data);
        } else {
            Error("malformed value: expected \"text\", dword:, hex: or hex(type):");
            return false;
        }
        made.size = data.size();
        if (2 * made.name + data.size() > bytes) {
            made.elsewhere = registry::Bytes(data);
            made.size = 0;
            return true;
        }
        if (!data.empty())
            std::memcpy(room + made.name, data.data(), data.size());
        return true;
    }

    static void WidenBytes(std::vector<std::uint8_t> &data)
    {
        size_t n = data.size();
        data.resize(2 * n);
        for (size_t i = n; i-- > 0;) {
            char16_t c = text::FromCp1252(data[i]);
            data[2 * i] = static_cast<std::uint8_t>(c);
            data[2 * i + 1] = static_cast<std::uint8_t>(c >> 8);
        }
    }

    int DigitAt(size_t at) const { return at < line_.size() ? HexDigit(Code(line_[at])) : -1; }

    bool Dword(registry::Type &v)
    {
        size_t start = pos_;
        v = 0;
        while (DigitAt(pos_) >= 0) {
            v = (v << 4) | static_cast<registry::Type>(DigitAt(pos_));
            ++pos_;
        }
        size_t digits = pos_ - start;
        if (digits == 0) {
            Error("bad dword: expected 1 to 8 hex digits");
            return false;
        }
        if (digits > 8) {
            Error("dword '" + Excerpt(line_.substr(start, digits)) + "' is too large");
            return false;
        }
        return true;
    }

    bool HexType(registry::Type &type)
    {
        size_t start = pos_;
        unsigned long long v = 0;
        while (DigitAt(pos_) >= 0 && pos_ - start < 9) {
            v = (v << 4) | static_cast<unsigned>(DigitAt(pos_));
            ++pos_;
        }
        if (pos_ == start || pos_ - start > 8 || !Keyword("):")) {
            Error("malformed hex(type): the type is 1 to 8 hex digits");
            return false;
        }
        type = static_cast<registry::Type>(v);
        return true;
    }

    // The usual run: two digits and a comma, again and again, each followed
    // on the line by something that is neither a blank nor a backslash (the
    // line's last byte, and what is unusual, are read one at a time). The
    // line's length is looked at once for the whole run.
    void HexRun(std::vector<std::uint8_t> &data)
    {
        size_t most = (line_.size() - pos_ - 1) / 3; // triples with a unit after them
        if (most == 0)
            return;
        size_t at = data.size(), n = 0;
        data.resize(at + most);
        std::uint8_t *out = data.data() + at;
        const Unit *p = line_.data() + pos_;
        for (; n < most; ++n, p += 3) {
            int hi = HexDigit(p[0]), lo = HexDigit(p[1]);
            if ((hi | lo) < 0 || p[2] != ',')
                break;
            out[n] = static_cast<std::uint8_t>(hi << 4 | lo);
        }
        // What follows each triple but the last is the next one's digit.
        if (n > 0 && (IsBlank(p[0]) || p[0] == '\\'))
            --n;
        data.resize(at + n);
        pos_ += 3 * n;
    }

    // Comma-separated hex bytes; a backslash after a comma continues the
    // list on the next line.
    bool HexBytes(std::vector<std::uint8_t> &data)
    {
        SkipBlanks();
        if (AtEnd() || line_[pos_] == ';')
            return true;
        for (;;) {
            HexRun(data);
            size_t start = pos_;
            int value = 0;
            while (DigitAt(pos_) >= 0) {
                value = (value << 4) | DigitAt(pos_);
                ++pos_;
                if (pos_ - start > 2) {
                    while (DigitAt(pos_) >= 0)
                        ++pos_;
                    Error("hex byte '" + Excerpt(line_.substr(start, pos_ - start)) + "' is too large");
                    return false;
                }
            }
            if (pos_ == start) {
                Error("bad hex byte" + (AtEnd() ? std::string(": the line ends") : " '" + text::Utf8(Wide(line_.substr(pos_, 1))) + "'"));
                return false;
            }
            data.push_back(static_cast<std::uint8_t>(value));
            SkipBlanks();
            if (AtEnd() || line_[pos_] == ';')
                return true;
            if (line_[pos_] != ',') {
                Error("bad hex byte list: expected ',' before '" + text::Utf8(Wide(line_.substr(pos_, 1))) + "'");
                return false;
            }
            ++pos_;
            SkipBlanks();
            if (!AtEnd() && line_[pos_] == '\\') {
                ++pos_;
                SkipBlanks();
                if (!AtEnd()) {
                    Error("unexpected text after the continuation backslash");
                    return false;
                }
                if (!NextLine()) {
                    Error("the file ends inside a continued value");
                    return false;
                }
                SkipBlanks();
            }
            if (AtEnd()) {
                Error("bad hex byte list: it ends with a comma");
                return false;
            }
        }
    }

    LineReader &lines_;
    Loaded &out_;
    Kind kind_;
    Deletions deletions_;
    size_t row_ = 0;
    View line_;
    size_t pos_ = 0;
    std::u16string buffer_; // a line decoded, where it cannot be seen in place
    bool badText_ = false;  // the fault is the text's encoding
    registry::RegKey *key_ = nullptr;
    bool inDeletion_ = false;
    std::optional<Fault> fault_;
    Gatherer gather_;
    // Reused for each line.
    std::u16string path_;
    std::vector<std::uint8_t> data_;
    std::vector<std::u16string_view> parts_;
    // The last section opened, for the next to start from where the paths
    // are spelt the same: its root, its path as the file spells it, where
    // each of its names ends there (the root's first), and its keys below
    // the root.
    registry::Root lastRoot_ = registry::Root::ClassesRoot;
    std::basic_string<Unit> lastPath_;
    std::vector<size_t> lastEnds_;
    std::vector<registry::RegKey *> lastKeys_;
    std::vector<size_t> ends_; // of the names after those, reused
};

std::optional<LoadError> LoadLines(LineReader &lines, size_t size, Loaded &out, Deletions deletions)
{
    std::string_view start = lines.Ahead(8);
    Kind kind;
    if (start.size() >= 2 && static_cast<unsigned char>(start[0]) == 0xFF && static_cast<unsigned char>(start[1]) == 0xFE) {
        if (size % 2)
            return LoadError{1, "invalid UTF-16: the file has an odd number of bytes"};
        out.format.encoding = Encoding::Utf16;
        kind = Kind::Utf16;
        lines.Skip(2);
        lines.SetUnit(2);
    } else {
        bool bom = start.substr(0, 3) == "\xEF\xBB\xBF";
        if (bom)
            lines.Skip(3);
        if (!bom && start.substr(0, 8) == "REGEDIT4") {
            out.format.encoding = Encoding::Regedit4;
            kind = Kind::Cp1252;
        } else {
            out.format.encoding = bom ? Encoding::Utf8Bom : Encoding::Utf8;
            kind = Kind::Utf8;
        }
    }

    std::optional<Fault> fault;
    if (kind == Kind::Cp1252) {
        Parser<char> parser(lines, out, kind, deletions);
        fault = parser.Run();
    } else {
        Parser<char16_t> parser(lines, out, kind, deletions);
        fault = parser.Run();
    }
    if (!lines.Error().empty())
        return LoadError{0, "cannot be read: " + lines.Error()};
    if (kind == Kind::Utf16 && lines.Dangling())
        return LoadError{1, "invalid UTF-16: the file has an odd number of bytes"};
    if (fault)
        return LoadError{fault->line, fault->message};
    return std::nullopt;
}

} // namespace

std::optional<LoadError> Load(std::string_view bytes, Loaded &out)
{
    LineReader lines(bytes);
    return LoadLines(lines, bytes.size(), out, Deletions::Allowed);
}

std::optional<LoadError> Load(bytes::Source &source, Loaded &out, Deletions deletions)
{
    LineReader lines(source);
    return LoadLines(lines, source.Size(), out, deletions);
}

} // namespace regfile
