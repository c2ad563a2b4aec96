// Reads .reg files strictly. A registry editor's importer skips what it does
// not understand; these files are written back, so anything skipped would be
// lost, and the whole file is refused instead.
#include "regfile/regfile.h"

#include "regfile/text.h"
#include "registry/names.h"
#include "text/codecs.h"

#include <algorithm>
#include <array>
#include <unordered_map>
#include <vector>

namespace regfile {
namespace {

const char16_t kHeader4[] = u"REGEDIT4";
const char16_t kHeader5[] = u"Windows Registry Editor Version 5.00";
constexpr size_t kMaxValueName = 16383;

struct Fault {
    size_t line;
    std::string message;
};

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

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

// A piece of a line for a message: a long one is cut with an ellipsis.
std::string Excerpt(std::u16string_view text)
{
    constexpr size_t kMax = 60;
    return text.size() > kMax ? text::Utf8(text.substr(0, kMax)) + "..." : text::Utf8(text);
}

int HexDigit(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

// The file's lines one at a time, ending at CRLF, LF or a lone CR, each
// decoded into one reused buffer (8-bit and UTF-8 text) or seen where it
// lies (UTF-16 on a little-endian host): the file is never held twice.
class LineReader {
public:
    enum class Kind { Cp1252, Utf8, Utf16 };

    LineReader(std::string_view body, Kind kind) : body_(body), kind_(kind) {}

    // Moves to the next line; false at the end of the file.
    bool Next()
    {
        size_t unit = kind_ == Kind::Utf16 ? 2 : 1;
        if (pos_ >= body_.size())
            return false;
        size_t start = pos_, end = start;
        while (end < body_.size() && !IsEnd(Unit(end)))
            end += unit;
        pos_ = end;
        if (pos_ < body_.size()) {
            lineEnd_ = Unit(pos_) == u'\r' ? u'\r' : u'\n';
            pos_ += unit;
            if (lineEnd_ == u'\r' && pos_ < body_.size() && Unit(pos_) == u'\n') {
                lineEnd_ = u'\n' + 1; // CRLF
                pos_ += unit;
            }
        } else {
            lineEnd_ = 0;
        }
        ++number_;
        Decode(start, end);
        return true;
    }
    std::u16string_view Line() const { return line_; }
    size_t Number() const { return number_; }
    // How the current line ended: CRLF, LF, CR, or not at all (the last).
    std::optional<LineEnd> Ending() const
    {
        if (lineEnd_ == 0)
            return std::nullopt;
        return lineEnd_ == u'\r' ? LineEnd::Cr : lineEnd_ == u'\n' ? LineEnd::Lf : LineEnd::CrLf;
    }

private:
    static bool IsEnd(char16_t c) { return c == u'\r' || c == u'\n'; }
    char16_t Unit(size_t at) const
    {
        if (kind_ != Kind::Utf16)
            return static_cast<unsigned char>(body_[at]);
        return static_cast<char16_t>(static_cast<unsigned char>(body_[at]) |
                                     static_cast<unsigned char>(body_[at + 1]) << 8);
    }
    void Decode(size_t start, size_t end)
    {
        std::string_view bytes = body_.substr(start, end - start);
        switch (kind_) {
        case Kind::Utf16: {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
            // The bytes are the text: seen in place, through a type that
            // may alias them.
            typedef char16_t __attribute__((may_alias)) Unit16;
            if (reinterpret_cast<std::uintptr_t>(bytes.data()) % alignof(char16_t) == 0) {
                line_ = std::u16string_view(reinterpret_cast<const Unit16 *>(bytes.data()), bytes.size() / 2);
                return;
            }
#endif
            buffer_ = text::FromUtf16Bytes(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size());
            break;
        }
        case Kind::Cp1252: {
            static const auto table = [] {
                std::array<char16_t, 256> t{};
                for (unsigned b = 0; b < 256; ++b)
                    t[b] = FromCp1252(static_cast<unsigned char>(b));
                return t;
            }();
            buffer_.resize(bytes.size());
            for (size_t i = 0; i < bytes.size(); ++i)
                buffer_[i] = table[static_cast<unsigned char>(bytes[i])];
            break;
        }
        case Kind::Utf8: {
            text::DecodeUtf8(bytes, buffer_, text::Utf8Errors::Refuse); // checked whole before any line is read
            break;
        }
        }
        line_ = buffer_;
    }

    std::string_view body_;
    Kind kind_;
    size_t pos_ = 0;
    size_t number_ = 0;
    char16_t lineEnd_ = 0;
    std::u16string buffer_;
    std::u16string_view line_;
};

// Builds the registry in O(n log n) whatever order the file lists keys and
// values in. A child that sorts after its parent's last is appended; one
// that does not is appended too, and its parent is put back in order, once,
// at the end of the file or before a deletion (such children are found
// again through an index meanwhile). A section's values are gathered and
// go in as one piece when they follow the key's own in order; the rest wait
// for one sort per key. A value's first spelling and last data win, and
// deletions apply in file order.
class Gatherer {
public:
    explicit Gatherer(registry::Tree &registry) : registry_(registry) {}

    registry::RegKey &Child(registry::RegKey &parent, std::u16string_view name)
    {
        auto &subkeys = parent.subkeys;
        auto unsorted = unsortedFrom_.find(&parent);
        if (unsorted == unsortedFrom_.end()) {
            int last = subkeys.empty() ? -1 : registry::CompareNames(subkeys.back()->Name(), name);
            if (last < 0)
                return registry_.AppendSubkey(parent, name);
            if (last == 0)
                return *subkeys.back();
        } else {
            auto hit = index_.find(IndexId(parent, name));
            if (hit != index_.end())
                return *hit->second;
        }
        // Children from before the first one out of order are in order and
        // searchable.
        size_t sorted = unsorted == unsortedFrom_.end() ? subkeys.size() : unsorted->second;
        auto end = subkeys.begin() + sorted;
        auto it = std::lower_bound(subkeys.begin(), end, name, [](const registry::RegKey *k, std::u16string_view n) {
            return registry::CompareNames(k->Name(), n) < 0;
        });
        if (it != end && registry::CompareNames((*it)->Name(), name) == 0)
            return **it;
        if (unsorted == unsortedFrom_.end())
            unsortedFrom_.emplace(&parent, subkeys.size());
        registry::RegKey &child = registry_.AppendSubkey(parent, name);
        index_.emplace(IndexId(parent, name), &child);
        return child;
    }

    void Value(registry::RegKey &key, std::u16string_view name, registry::Type type, registry::Bytes data,
               bool remove)
    {
        if (&key != section_) {
            Flush();
            section_ = &key;
        }
        section_values_.push_back({registry_.MakeValue(name, type, data), remove});
    }

    // Everything in order; the index is forgotten, since a deletion may
    // take out the keys it points to.
    void Settle()
    {
        Flush();
        for (auto &[parent, from] : unsortedFrom_) {
            (void)from;
            auto &subkeys = parent->subkeys;
            std::vector<size_t> order = OrderByName(subkeys.size(), [&](size_t i) { return subkeys[i]->Name(); });
            std::vector<registry::RegKey *> sorted;
            sorted.reserve(order.size());
            for (size_t i : order)
                sorted.push_back(subkeys[i]);
            std::copy(sorted.begin(), sorted.end(), subkeys.begin());
        }
        unsortedFrom_.clear();
        index_.clear();
        for (auto &[key, pending] : waiting_)
            Merge(*key, pending);
        waiting_.clear();
    }

private:
    struct Pending {
        registry::RegValue value;
        bool remove;
    };

    // The values gathered for the section just read go in at once, or wait.
    void Flush()
    {
        if (!section_)
            return;
        registry::RegKey &key = *section_;
        section_ = nullptr;
        auto waiting = waiting_.find(&key);
        bool ascending = waiting == waiting_.end();
        for (size_t i = 0; ascending && i < section_values_.size(); ++i) {
            const Pending &p = section_values_[i];
            const registry::RegValue *before =
                i ? &section_values_[i - 1].value : key.values.empty() ? nullptr : &key.values.back();
            ascending = !p.remove && (!before || Before(*before, p.value));
        }
        if (ascending) { // the common case: a registry editor's own order
            plain_.clear();
            for (const Pending &p : section_values_)
                plain_.push_back(p.value);
            registry_.AppendValues(key, plain_.data(), plain_.size());
        } else {
            auto &list = waiting == waiting_.end() ? waiting_[&key] : waiting->second;
            list.insert(list.end(), section_values_.begin(), section_values_.end());
        }
        section_values_.clear();
    }

    static std::u16string IndexId(const registry::RegKey &parent, std::u16string_view name)
    {
        auto bits = reinterpret_cast<std::uintptr_t>(&parent);
        std::u16string id;
        id.reserve(name.size() + 4);
        for (int i = 0; i < 4; ++i)
            id.push_back(static_cast<char16_t>(bits >> (16 * i)));
        for (char16_t c : name)
            id.push_back(registry::FoldCase(c));
        return id;
    }

    // The items' order by name in the registry's order, equal names in
    // their file order. Each name is folded once into one buffer, and the
    // folded names compare as plain text (the registry's order is the folded
    // names' order).
    template <typename NameOf>
    static std::vector<size_t> OrderByName(size_t count, NameOf nameOf)
    {
        std::vector<char16_t> folded;
        std::vector<size_t> start(count + 1);
        for (size_t i = 0; i < count; ++i) {
            start[i] = folded.size();
            for (char16_t c : nameOf(i))
                folded.push_back(registry::FoldCase(c));
        }
        start[count] = folded.size();
        auto name = [&](size_t i) { return std::u16string_view(folded.data() + start[i], start[i + 1] - start[i]); };
        std::vector<size_t> order(count);
        for (size_t i = 0; i < count; ++i)
            order[i] = i;
        std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            int c = name(a).compare(name(b));
            return c != 0 ? c < 0 : a < b; // equal names keep their file order
        });
        return order;
    }

    static bool Before(const registry::RegValue &a, const registry::RegValue &b)
    {
        return registry::CompareNames(a.Name(), b.Name()) < 0;
    }

    void Merge(registry::RegKey &key, std::vector<Pending> &pending)
    {
        std::vector<size_t> order = OrderByName(pending.size(), [&](size_t i) { return pending[i].value.Name(); });
        std::vector<registry::RegValue> merged;
        merged.reserve(key.values.size() + pending.size());
        size_t i = 0, j = 0;
        while (i < key.values.size() || j < order.size()) {
            if (j == order.size() || (i < key.values.size() && Before(key.values[i], pending[order[j]].value))) {
                merged.push_back(key.values[i++]);
                continue;
            }
            std::optional<registry::RegValue> current;
            std::u16string_view group = pending[order[j]].value.Name();
            if (i < key.values.size() && registry::CompareNames(key.values[i].Name(), group) == 0)
                current = key.values[i++];
            size_t k = j;
            for (; k < order.size() && registry::CompareNames(pending[order[k]].value.Name(), group) == 0; ++k) {
                const Pending &p = pending[order[k]];
                if (p.remove)
                    current.reset();
                else if (current) // the first spelling stays
                    current = registry_.MakeValue(current->Name(), p.value.type, p.value.Data());
                else
                    current = p.value;
            }
            if (current)
                merged.push_back(*current);
            j = k;
        }
        registry_.ReplaceValues(key, merged.data(), merged.size());
    }

    registry::Tree &registry_;
    std::unordered_map<std::u16string, registry::RegKey *> index_;
    std::unordered_map<registry::RegKey *, size_t> unsortedFrom_;
    std::unordered_map<registry::RegKey *, std::vector<Pending>> waiting_;
    registry::RegKey *section_ = nullptr;
    std::vector<Pending> section_values_;
    std::vector<registry::RegValue> plain_;
};

// Reads one value or section line, following continuation lines.
class Parser {
public:
    Parser(LineReader &lines, Loaded &out, bool ansi) : lines_(lines), out_(out), ansi_(ansi), gather_(out.registry) {}

    std::optional<Fault> Run()
    {
        while (lines_.Next()) {
            row_ = lines_.Number() - 1;
            line_ = lines_.Line();
            pos_ = 0;
            SkipBlanks();
            if (AtEnd() || line_[pos_] == u';')
                continue;
            if (line_[pos_] == u'[')
                Section();
            else if (line_[pos_] == u'"' || line_[pos_] == u'@')
                Value();
            else
                Error("malformed line: expected [key] or \"name\"=value");
            if (fault_)
                return fault_;
        }
        gather_.Settle();
        return std::nullopt;
    }

private:
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
    // Only blanks, or a comment, may follow a complete line.
    void ExpectLineEnd()
    {
        SkipBlanks();
        if (!AtEnd() && line_[pos_] != u';')
            Error("unexpected text after the value: '" + Excerpt(line_.substr(pos_)) + "'");
    }

    void Section()
    {
        ++pos_;
        bool remove = !AtEnd() && line_[pos_] == u'-';
        if (remove)
            ++pos_;
        size_t close = line_.rfind(u']');
        if (close == std::u16string_view::npos || close < pos_) {
            Error("malformed section: no closing ']'");
            return;
        }
        std::u16string_view path = line_.substr(pos_, close - pos_);
        pos_ = close + 1;
        ExpectLineEnd();
        if (fault_)
            return;

        size_t slash = path.find(u'\\');
        std::u16string_view rootName = path.substr(0, slash);
        std::u16string_view subkey = slash == std::u16string_view::npos ? u"" : path.substr(slash + 1);
        std::optional<registry::Root> found;
        for (const auto &[r, name] : RootNames())
            if (registry::EqualNoCase(rootName, name))
                found = r;
        if (!found) {
            Error("unknown root '" + Excerpt(rootName) + "'");
            return;
        }
        std::vector<std::u16string_view> &parts = parts_;
        parts.clear();
        if (slash != std::u16string_view::npos) {
            size_t start = 0;
            for (;;) {
                size_t end = subkey.find(u'\\', start);
                std::u16string_view part = subkey.substr(start, end == std::u16string_view::npos ? std::u16string_view::npos : end - start);
                if (part.empty()) {
                    Error("malformed section: empty key name in '" + Excerpt(path) + "'");
                    return;
                }
                if (part.size() > registry::kMaxKeyNameLength) {
                    Error("key name longer than 255 characters");
                    return;
                }
                parts.push_back(part);
                if (parts.size() > registry::kMaxKeyDepth) {
                    Error("key path deeper than the registry's " + std::to_string(registry::kMaxKeyDepth) + " levels");
                    return;
                }
                if (end == std::u16string_view::npos)
                    break;
                start = end + 1;
            }
        }

        if (remove) {
            if (subkey.empty()) {
                Error("a root key cannot be deleted");
                return;
            }
            gather_.Settle();
            lastKeys_.clear();
            out_.registry.DeleteKey(*found, subkey);
            key_ = nullptr;
            inDeletion_ = true;
        } else {
            // Sections mostly follow the tree: the previous section's keys
            // are taken again for the parts spelt the same.
            registry::RegKey *key = &out_.registry.RootKey(*found);
            size_t same = 0;
            while (*found == lastRoot_ && same < parts.size() && same < lastKeys_.size() &&
                   parts[same] == lastKeys_[same]->Name())
                ++same;
            lastKeys_.resize(same);
            if (same > 0)
                key = lastKeys_.back();
            for (size_t i = same; i < parts.size(); ++i) {
                key = &gather_.Child(*key, parts[i]);
                lastKeys_.push_back(key);
            }
            lastRoot_ = *found;
            key_ = key;
            inDeletion_ = false;
        }
    }

    // A quoted string with \\ and \" (and \n, \r, \0, as registry editors
    // write them) from pos_ at its opening quote.
    bool QuotedString(std::u16string &text)
    {
        text.clear();
        ++pos_;
        while (!AtEnd()) {
            // The plain run up to the next quote or backslash, in one piece.
            size_t run = pos_;
            while (run < line_.size() && line_[run] != u'"' && line_[run] != u'\\')
                ++run;
            text.append(line_.data() + pos_, run - pos_);
            pos_ = run;
            if (AtEnd())
                break;
            char16_t c = line_[pos_++];
            if (c == u'"')
                return true;
            if (AtEnd())
                break;
            char16_t e = line_[pos_++];
            switch (e) {
            case u'\\': text.push_back(u'\\'); break;
            case u'"': text.push_back(u'"'); break;
            case u'n': text.push_back(u'\n'); break;
            case u'r': text.push_back(u'\r'); break;
            case u'0': text.push_back(u'\0'); break;
            default:
                Error("unknown escape '\\" + text::Utf8(std::u16string(1, e)) + "'");
                return false;
            }
        }
        Error("unterminated string");
        return false;
    }

    bool Keyword(std::u16string_view word)
    {
        if (line_.substr(pos_, word.size()) != word)
            return false;
        pos_ += word.size();
        return true;
    }

    void Value()
    {
        std::u16string &name = name_;
        name.clear();
        if (line_[pos_] == u'@') {
            ++pos_;
        } else {
            if (!QuotedString(name))
                return;
            if (name.size() > kMaxValueName) {
                Error("value name longer than 16383 characters");
                return;
            }
        }
        SkipBlanks();
        if (AtEnd() || line_[pos_] != u'=') {
            Error("malformed value line: expected '=' after the name");
            return;
        }
        ++pos_;
        SkipBlanks();
        if (!key_ && !inDeletion_) {
            Error("value before any key");
            return;
        }
        if (inDeletion_) {
            Error("value in the section of a deleted key");
            return;
        }

        registry::Type type;
        std::vector<std::uint8_t> &data = data_;
        data.clear();
        if (!AtEnd() && line_[pos_] == u'"') {
            if (!QuotedString(text_))
                return;
            type = registry::kTypeSz;
            data.resize(text_.size() * 2 + 2);
            for (size_t i = 0; i < text_.size(); ++i) {
                data[2 * i] = static_cast<std::uint8_t>(text_[i]);
                data[2 * i + 1] = static_cast<std::uint8_t>(text_[i] >> 8);
            }
            data[data.size() - 2] = data[data.size() - 1] = 0;
        } else if (!AtEnd() && line_[pos_] == u'-') {
            ++pos_;
            ExpectLineEnd();
            if (!fault_)
                gather_.Value(*key_, name, registry::kTypeNone, {}, true);
            return;
        } else if (Keyword(u"dword:")) {
            registry::Type v;
            if (!Dword(v))
                return;
            type = registry::kTypeDword;
            data = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
                    static_cast<std::uint8_t>(v >> 24)};
        } else if (Keyword(u"hex:")) {
            type = registry::kTypeBinary;
            if (!HexBytes(data))
                return;
        } else if (Keyword(u"hex(")) {
            if (!HexType(type) || !HexBytes(data))
                return;
            // 8-bit files hold expandable and multiple strings as 8-bit text,
            // which the registry keeps as UTF-16.
            if (ansi_ && (type == registry::kTypeExpandSz || type == registry::kTypeMultiSz))
                data = Widen(data);
        } else {
            Error("malformed value: expected \"text\", dword:, hex: or hex(type):");
            return;
        }
        if (fault_)
            return;
        ExpectLineEnd();
        if (fault_)
            return;
        gather_.Value(*key_, name, type, data, false);
    }

    static std::vector<std::uint8_t> Widen(const std::vector<std::uint8_t> &narrow)
    {
        std::u16string text;
        text.reserve(narrow.size());
        for (std::uint8_t b : narrow)
            text.push_back(FromCp1252(b));
        return text::Utf16Bytes(text, false);
    }

    bool Dword(registry::Type &v)
    {
        size_t start = pos_;
        v = 0;
        while (!AtEnd() && HexDigit(line_[pos_]) >= 0) {
            v = (v << 4) | static_cast<registry::Type>(HexDigit(line_[pos_]));
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
        while (!AtEnd() && HexDigit(line_[pos_]) >= 0 && pos_ - start < 9) {
            v = (v << 4) | static_cast<unsigned>(HexDigit(line_[pos_]));
            ++pos_;
        }
        if (pos_ == start || pos_ - start > 8 || !Keyword(u"):")) {
            Error("malformed hex(type): the type is 1 to 8 hex digits");
            return false;
        }
        type = static_cast<registry::Type>(v);
        return true;
    }

    // Comma-separated hex bytes; a backslash after a comma continues the
    // list on the next line.
    bool HexBytes(std::vector<std::uint8_t> &data)
    {
        data.reserve(data.size() + (line_.size() - pos_ + 2) / 3);
        SkipBlanks();
        if (AtEnd() || line_[pos_] == u';')
            return true;
        for (;;) {
            size_t start = pos_;
            int value = 0;
            while (!AtEnd() && HexDigit(line_[pos_]) >= 0) {
                value = (value << 4) | HexDigit(line_[pos_]);
                ++pos_;
                if (pos_ - start > 2) {
                    while (!AtEnd() && HexDigit(line_[pos_]) >= 0)
                        ++pos_;
                    Error("hex byte '" + Excerpt(line_.substr(start, pos_ - start)) + "' is too large");
                    return false;
                }
            }
            if (pos_ == start) {
                Error("bad hex byte" + (AtEnd() ? std::string(": the line ends") : " '" + text::Utf8(line_.substr(pos_, 1)) + "'"));
                return false;
            }
            data.push_back(static_cast<std::uint8_t>(value));
            SkipBlanks();
            if (AtEnd() || line_[pos_] == u';')
                return true;
            if (line_[pos_] != u',') {
                Error("bad hex byte list: expected ',' before '" + text::Utf8(line_.substr(pos_, 1)) + "'");
                return false;
            }
            ++pos_;
            SkipBlanks();
            if (!AtEnd() && line_[pos_] == u'\\') {
                ++pos_;
                SkipBlanks();
                if (!AtEnd()) {
                    Error("unexpected text after the continuation backslash");
                    return false;
                }
                if (!lines_.Next()) {
                    Error("the file ends inside a continued value");
                    return false;
                }
                row_ = lines_.Number() - 1;
                line_ = lines_.Line();
                pos_ = 0;
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
    bool ansi_;
    size_t row_ = 0;
    std::u16string_view line_;
    size_t pos_ = 0;
    registry::RegKey *key_ = nullptr;
    bool inDeletion_ = false;
    std::optional<Fault> fault_;
    Gatherer gather_;
    // Reused for each value line.
    std::u16string name_, text_;
    std::vector<std::uint8_t> data_;
    // The previous section's keys, for the next to start from where the
    // paths are spelt the same.
    registry::Root lastRoot_ = registry::Root::ClassesRoot;
    std::vector<registry::RegKey *> lastKeys_;
    std::vector<std::u16string_view> parts_;
};

} // namespace

std::optional<LoadError> Load(std::string_view bytes, Loaded &out)
{
    std::string_view body = bytes;
    LineReader::Kind kind;
    bool ansi = false;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        if (bytes.size() % 2)
            return LoadError{1, "invalid UTF-16: the file has an odd number of bytes"};
        out.format.encoding = Encoding::Utf16;
        kind = LineReader::Kind::Utf16;
        body = bytes.substr(2);
    } else {
        bool bom = bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF";
        body = bom ? bytes.substr(3) : bytes;
        if (!bom && body.substr(0, 8) == "REGEDIT4") {
            ansi = true;
            out.format.encoding = Encoding::Regedit4;
            kind = LineReader::Kind::Cp1252;
        } else {
            // The whole text is checked before any line is read, so that a
            // bad byte is reported before anything it would hide.
            out.format.encoding = bom ? Encoding::Utf8Bom : Encoding::Utf8;
            kind = LineReader::Kind::Utf8;
            size_t badAt = 0;
            if (!text::ValidUtf8(body, &badAt)) {
                size_t line = 1;
                for (size_t i = 0; i < badAt; ++i)
                    line += body[i] == '\n' || (body[i] == '\r' && (i + 1 >= body.size() || body[i + 1] != '\n'));
                return LoadError{line, "invalid UTF-8"};
            }
        }
    }

    LineReader lines(body, kind);
    if (!lines.Next())
        return LoadError{1, "missing header: expected REGEDIT4 or Windows Registry Editor Version 5.00"};
    std::u16string_view header = lines.Line();
    while (!header.empty() && IsBlank(header.back()))
        header.remove_suffix(1);
    bool v4 = header == kHeader4;
    bool v5 = header == kHeader5;
    if (!v4 && !v5)
        return LoadError{1, "missing or unknown header '" + Excerpt(header.substr(0, 60)) +
                                "': expected REGEDIT4 or Windows Registry Editor Version 5.00"};
    if (v4 != ansi)
        return LoadError{1, v4 ? "a REGEDIT4 file must be 8-bit text, not UTF-16 or UTF-8 with a mark"
                               : "a Version 5.00 file must be UTF-16 or UTF-8"};
    out.format.lineEnd = lines.Ending().value_or(LineEnd::CrLf);

    Parser parser(lines, out, ansi);
    if (auto fault = parser.Run())
        return LoadError{fault->line, fault->message};
    return std::nullopt;
}

} // namespace regfile
