// Puts a registry file's keys and values in the registry's order.
#include "regfile/gather.h"

#include "registry/names.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

namespace regfile {
namespace {

// Names sorted by comparing them whole, when there are no more than this.
constexpr size_t kFewNames = 16;
// A key reopened with no more values than this has a section's few values
// merged into them at once; a larger one's wait for one sort at the end.
constexpr size_t kFewValuesMerged = 64;
// How far ahead a merge, or a parent's children put in order, ask for
// what they take in sorted order.
constexpr size_t kAhead = 16;
// Ranges of names sorted by comparison rather than by their digits, when
// there are fewer than this.
constexpr size_t kRadixFrom = 256;

bool Before(const registry::RegValue &a, const registry::RegValue &b)
{
    return registry::CompareNames(a.Name(), b.Name()) < 0;
}

// How many characters two names share from their start, folded.
size_t Common(std::u16string_view a, std::u16string_view b)
{
    size_t k = 0;
    while (k < a.size() && k < b.size() && (a[k] == b[k] || registry::FoldCase(a[k]) == registry::FoldCase(b[k])))
        ++k;
    return k;
}

// A name's first four characters, folded, in a number that orders names as
// the registry does where two numbers differ: a name that ends sooner is
// read as going on with zeros, which sort first (a zero character ties
// with the end, and the whole names decide).
std::uint64_t Head(std::u16string_view name)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::uint64_t four;
    if (name.size() >= 4 && (std::memcpy(&four, name.data(), 8), (four & 0xFF80FF80FF80FF80u) == 0)) {
        four = registry::FoldAsciiLanes(four); // the first character in the low lane: turned
        return four << 48 | (four << 16 & 0xFFFF00000000u) | (four >> 16 & 0xFFFF0000u) | four >> 48;
    }
#endif
    std::uint64_t head = 0;
    for (size_t i = 0; i < 4; ++i)
        head = head << 16 | (i < name.size() ? registry::FoldCase(name[i]) : 0);
    return head;
}

} // namespace

registry::RegKey *OutOfOrder::Find(const registry::RegKey &parent, std::u16string_view name)
{
    hash_ = ChildIndex::Hash(name);
    if (registry::RegKey *hit = index_.Find(name, hash_))
        return hit;
    if (broken_)
        return nullptr;
    // One run after the indexed children: searched where it lies.
    auto &subkeys = parent.subkeys;
    int last = registry::CompareNames(subkeys.back()->Name(), name);
    if (last == 0)
        return subkeys.back();
    side_ = last < 0 ? 1 : -1;
    if (direction_ == 0 || side_ == direction_)
        return nullptr; // beyond the run's end
    side_ = 0;
    auto run = subkeys.begin() + from_;
    auto at = std::partition_point(run, subkeys.end(), [&](const registry::RegKey *k) {
        return registry::CompareNames(k->Name(), name) * direction_ < 0;
    });
    return at != subkeys.end() && registry::CompareNames((*at)->Name(), name) == 0 ? *at : nullptr;
}

void OutOfOrder::Added(const registry::RegKey &parent)
{
    auto &subkeys = parent.subkeys;
    if (broken_) {
        index_.Put(subkeys.back(), hash_);
    } else if (subkeys.size() - from_ == 1) { // the first out of order
        Reindex(parent, from_);
    } else if (side_ != 0 && (direction_ == 0 || side_ == direction_)) {
        direction_ = side_;
    } else {
        broken_ = true;
        Reindex(parent, subkeys.size());
    }
}

// The first count children, read in the order they were made, which is the
// order they lie in.
void OutOfOrder::Reindex(const registry::RegKey &parent, size_t count)
{
    index_.Reset(2 * count);
    for (size_t i = 0; i < count; ++i)
        index_.Put(parent.subkeys[i], ChildIndex::Hash(parent.subkeys[i]->Name()));
}

Gatherer::Marked &Gatherer::Mark(registry::RegKey &key)
{
    if (!key.mark) {
        marked_.push_back({&key, 0, false});
        key.mark = static_cast<std::uint32_t>(marked_.size());
    }
    return marked_[key.mark - 1];
}

registry::RegKey &Gatherer::Child(registry::RegKey &parent, std::u16string_view name)
{
    auto &subkeys = parent.subkeys;
    Marked *marked = MarkOf(parent);
    OutOfOrder *unsorted = marked && marked->children ? &unsorted_[marked->children - 1] : nullptr;
    if (unsorted) {
        if (registry::RegKey *hit = unsorted->Find(parent, name))
            return *hit;
    } else {
        int last = subkeys.empty() ? -1 : registry::CompareNames(subkeys.back()->Name(), name);
        if (last < 0)
            return registry_.AppendSubkey(parent, name);
        if (last == 0)
            return *subkeys.back();
        // All children so far are in order, and searchable.
        auto it = std::lower_bound(subkeys.begin(), subkeys.end(), name,
                                   [](const registry::RegKey *k, std::u16string_view n) {
                                       return registry::CompareNames(k->Name(), n) < 0;
                                   });
        if (registry::CompareNames((*it)->Name(), name) == 0)
            return **it;
        unsorted_.emplace_back(subkeys.size());
        Mark(parent).children = static_cast<std::uint32_t>(unsorted_.size());
        unsorted = &unsorted_.back();
    }
    registry::RegKey &child = registry_.AppendSubkey(parent, name);
    unsorted->Added(parent);
    return child;
}

void Gatherer::Settle()
{
    Flush();
    for (Marked &marked : marked_)
        if (marked.children)
            Order(*marked.key, unsorted_[marked.children - 1]);
    unsorted_.clear();
    MergeWaiting();
    for (Marked &marked : marked_)
        marked.key->mark = 0;
    marked_.clear();
}

// The values that waited, each key's together in file order (a counting
// sort by key, which reads and writes them in order), merged into each
// key's.
void Gatherer::MergeWaiting()
{
    if (waiting_.empty())
        return;
    std::vector<size_t> start(marked_.size() + 1, 0);
    for (const Waiting &w : waiting_)
        ++start[w.marked + 1];
    for (size_t i = 1; i < start.size(); ++i)
        start[i] += start[i - 1];
    std::vector<Pending> byKey(waiting_.size());
    std::vector<size_t> next(start.begin(), start.end() - 1);
    for (const Waiting &w : waiting_)
        byKey[next[w.marked]++] = w.pending;
    waiting_.clear();
    for (size_t i = 0; i < marked_.size(); ++i)
        if (marked_[i].waits)
            Merge(*marked_[i].key, byKey.data() + start[i], start[i + 1] - start[i]);
}

// A parent's children, some out of order, put in order.
void Gatherer::Order(registry::RegKey &parent, OutOfOrder &outOfOrder)
{
    auto &subkeys = parent.subkeys;
    if (outOfOrder.OneRun()) { // two runs in order, merged
        auto run = subkeys.begin() + outOfOrder.From();
        if (outOfOrder.Descending())
            std::reverse(run, subkeys.end());
        std::inplace_merge(subkeys.begin(), run, subkeys.end(), [](const registry::RegKey *a, const registry::RegKey *b) {
            return registry::CompareNames(a->Name(), b->Name()) < 0;
        });
        return;
    }
    OrderByName(subkeys.size(), [&](size_t i) { return subkeys[i]->Name(); });
    // The keys in their order go where their prefixes were, which are
    // done with: a shuffled file's many keys take no more memory here.
    for (size_t k = 0; k < packed_.size(); ++k) {
        if (k + kAhead < packed_.size())
            __builtin_prefetch(&subkeys[Index(packed_[k + kAhead])]);
        packed_[k] = reinterpret_cast<std::uintptr_t>(subkeys[Index(packed_[k])]);
    }
    for (size_t i = 0; i < subkeys.size(); ++i)
        subkeys[i] = reinterpret_cast<registry::RegKey *>(static_cast<std::uintptr_t>(packed_[i]));
}

// The values gathered for the section just read go in at once, or wait.
void Gatherer::Flush()
{
    if (!section_)
        return;
    registry::RegKey &key = *section_;
    section_ = nullptr;
    Marked *marked = MarkOf(key);
    bool waits = marked && marked->waits;
    bool ascending = !waits;
    if (ascending && key.values.empty() && FewInOrder(key)) { // the common case: a new key
        sectionValues_.clear();
        return;
    }
    for (size_t i = 0; ascending && i < sectionValues_.size(); ++i) {
        const Pending &p = sectionValues_[i];
        const registry::RegValue *before =
            i ? &sectionValues_[i - 1].value : key.values.empty() ? nullptr : &key.values.back();
        ascending = !p.remove && (!before || Before(*before, p.value));
    }
    if (ascending) { // in the registry's order already
        plain_.clear();
        for (const Pending &p : sectionValues_)
            plain_.push_back(p.value);
        registry_.AppendValues(key, plain_.data(), plain_.size());
    } else if (!waits && key.values.empty()) {
        Merge(key, sectionValues_.data(), sectionValues_.size());
    } else if (!waits && sectionValues_.size() <= kFewNames && key.values.size() <= kFewValuesMerged) {
        Merge(key, sectionValues_.data(), sectionValues_.size()); // a key reopened: cheap to merge at once
    } else {
        if (!marked)
            marked = &Mark(key);
        marked->waits = true;
        auto at = static_cast<std::uint32_t>(marked - marked_.data());
        for (const Pending &p : sectionValues_)
            waiting_.push_back({at, p});
    }
    sectionValues_.clear();
}

// A new key's few values, put in its list in order at once where none is
// deleted or named twice; false leaves them to the rest of Flush.
bool Gatherer::FewInOrder(registry::RegKey &key)
{
    size_t count = sectionValues_.size();
    if (count > kFewNames)
        return false;
    std::uint64_t heads[kFewNames];
    std::uint8_t order[kFewNames];
    for (size_t i = 0; i < count; ++i) {
        const registry::RegValue &value = sectionValues_[i].value;
        if (sectionValues_[i].remove)
            return false;
        std::uint64_t head = Head(value.Name());
        size_t j = i;
        for (; j > 0; --j) {
            std::uint64_t other = heads[j - 1];
            int c = other != head ? (other < head ? -1 : 1)
                                  : registry::CompareNames(sectionValues_[order[j - 1]].value.Name(), value.Name());
            if (c == 0)
                return false;
            if (c < 0)
                break;
            heads[j] = other;
            order[j] = order[j - 1];
        }
        heads[j] = head;
        order[j] = static_cast<std::uint8_t>(i);
    }
    plain_.resize(count);
    for (size_t i = 0; i < count; ++i)
        plain_[i] = sectionValues_[order[i]].value;
    registry_.AppendValues(key, plain_.data(), count);
    return true;
}

// The items' order by name in the registry's order, equal names in their
// file order (packed_'s indexes), and which names tie with the one before
// (tie_). Many in exactly the opposite order are turned. Others are sorted
// a few characters at a time (see SortTied), from the first in which they
// differ.
template <typename NameOf> void Gatherer::OrderByName(size_t count, NameOf nameOf)
{
    if (count <= kFewNames) {
        OrderFew(count, nameOf);
        return;
    }
    indexBits_ = 1;
    while (indexBits_ < 32 && (std::uint64_t{1} << indexBits_) < count)
        ++indexBits_;
    tie_.assign(count, 0);
    bool descending = count > kFewNames;
    for (size_t i = 1; descending && i < count; ++i)
        descending = registry::CompareNames(nameOf(i - 1), nameOf(i)) > 0;
    packed_.resize(count);
    for (size_t i = 0; i < count; ++i)
        packed_[i] = descending ? count - 1 - i : i;
    if (descending)
        return;
    SortTied({0, count, 0}, nameOf);
    while (!tied_.empty()) {
        Tied tied = tied_.back();
        tied_.pop_back();
        SortTied(tied, nameOf);
    }
}

// A few names' order, equal ones in the order they came in: each put in
// place among those before it, by its first four characters, folded, and
// compared whole only where those tie.
template <typename NameOf> void Gatherer::OrderFew(size_t count, NameOf nameOf)
{
    indexBits_ = 4;
    static_assert(kFewNames <= 16, "an index in four bits");
    std::uint64_t heads[kFewNames];
    packed_.resize(count);
    tie_.resize(count);
    for (size_t i = 0; i < count; ++i) {
        std::uint64_t head = Head(nameOf(i));
        size_t j = i;
        int order = -1; // against the one it follows
        for (; j > 0; --j) {
            order = heads[j - 1] != head ? (heads[j - 1] < head ? -1 : 1)
                                         : registry::CompareNames(nameOf(packed_[j - 1]), nameOf(i));
            if (order <= 0)
                break;
            heads[j] = heads[j - 1];
            packed_[j] = packed_[j - 1];
            tie_[j] = tie_[j - 1];
        }
        if (j < i) // it goes before the one now after it, which it does not tie with
            tie_[j + 1] = 0;
        heads[j] = head;
        packed_[j] = i;
        tie_[j] = j > 0 && order == 0;
    }
}

// Puts names that share their first characters in order, keeping equal
// names in the order they came in. A few are compared whole. Many skip the
// characters they all share, then are sorted by as many of the next
// characters as fit beside their index in a number (for 100,000 names:
// six ASCII characters, five of 8 bits or two of 16), folded, and
// how many of those the name has: names that tie there and go on are
// sorted again by the characters after, later; those that end there are
// equal.
template <typename NameOf> void Gatherer::SortTied(const Tied &tied, NameOf nameOf)
{
    auto name = [&](size_t at) { // all are at least depth long
        std::u16string_view n = nameOf(Index(packed_[at]));
        return std::u16string_view(n.data() + tied.depth, n.size() - tied.depth);
    };
    if (tied.to - tied.from <= kFewNames) {
        for (size_t i = tied.from + 1; i < tied.to; ++i)
            for (size_t j = i; j > tied.from && registry::CompareNames(name(j - 1), name(j)) > 0; --j)
                std::swap(packed_[j - 1], packed_[j]);
        for (size_t i = tied.from + 1; i < tied.to; ++i)
            tie_[i] = registry::CompareNames(name(i - 1), name(i)) == 0;
        return;
    }

    // The characters all share are most often those the first shares with
    // the middle one and the last: taken so while the names are packed, and
    // fewer again from one that does not share them.
    std::u16string_view first = name(tied.from);
    size_t shared = std::min(Common(first, name((tied.from + tied.to) / 2)), Common(first, name(tied.to - 1)));
    size_t chars = 0;
    for (size_t at; (at = Pack(tied, first.substr(0, shared), nameOf, chars)) < tied.to;)
        shared = Common(first, name(at));
    size_t depth = tied.depth + shared;

    auto from = packed_.begin() + static_cast<std::ptrdiff_t>(tied.from);
    if (tied.to - tied.from < kRadixFrom)
        std::sort(from, packed_.begin() + static_cast<std::ptrdiff_t>(tied.to));
    else
        SortByBytes(tied.from, tied.to);

    for (size_t i = tied.from, j; i < tied.to; i = j) {
        std::uint64_t prefix = packed_[i] >> indexBits_;
        for (j = i + 1; j < tied.to && packed_[j] >> indexBits_ == prefix;)
            ++j;
        if (j - i == 1)
            continue;
        if ((prefix & 15) == chars + 1)
            tied_.push_back({i, j, depth + chars});
        else
            std::fill(tie_.begin() + static_cast<std::ptrdiff_t>(i + 1), tie_.begin() + static_cast<std::ptrdiff_t>(j), 1);
    }
}

// Above each name's index in packed_ at tied: the characters after the
// shared ones, each of 7 bits while all are ASCII, then 8 or 16, as many as
// fit with 4 bits of how many there are (chars). Gives the place of the
// first name that does not share them after all, or tied.to.
template <typename NameOf>
size_t Gatherer::Pack(const Tied &tied, std::u16string_view shared, NameOf nameOf, size_t &chars)
{
    const unsigned room = 64 - indexBits_ - 4;
    unsigned bits = 7;
    chars = room / bits;
    for (size_t i = tied.from; i < tied.to;) {
        std::u16string_view n = nameOf(Index(packed_[i])).substr(tied.depth);
        if (n.size() < shared.size() || !registry::EqualNoCase(n.substr(0, shared.size()), shared))
            return i;
        n.remove_prefix(shared.size());
        std::uint64_t prefix = 0;
        bool wider = false;
        for (size_t j = 0; j < chars && !wider; ++j) {
            char16_t c = j < n.size() ? registry::FoldCase(n[j]) : 0;
            wider = c >> bits;
            if (wider)
                bits = c >> 8 ? 16 : 8, chars = room / bits;
            prefix = prefix << bits | c;
        }
        if (wider) { // all again, with wider characters
            i = tied.from;
            continue;
        }
        prefix = prefix << 4 | std::min(n.size(), chars + 1);
        packed_[i] = prefix << indexBits_ | Index(packed_[i]);
        ++i;
    }
    return tied.to;
}

// packed_[from, to) in order, a byte at a time from the last, leaving out
// bytes that all share and bytes of the index alone, which are in order
// already.
void Gatherer::SortByBytes(size_t from, size_t to)
{
    size_t counts[8][256] = {};
    for (size_t i = from; i < to; ++i)
        for (size_t b = indexBits_ / 8; b < 8; ++b)
            ++counts[b][packed_[i] >> (8 * b) & 0xFF];
    spare_.resize(to - from);
    std::uint64_t *in = packed_.data() + from, *out = spare_.data();
    for (size_t b = indexBits_ / 8; b < 8; ++b) {
        size_t *count = counts[b];
        if (std::count(count, count + 256, size_t{0}) == 255)
            continue;
        size_t at = 0;
        for (size_t v = 0; v < 256; ++v)
            at += std::exchange(count[v], at);
        for (size_t i = 0; i < to - from; ++i)
            out[count[in[i] >> (8 * b) & 0xFF]++] = in[i];
        std::swap(in, out);
    }
    if (in != packed_.data() + from)
        std::copy(in, in + (to - from), packed_.data() + from);
}

void Gatherer::Merge(registry::RegKey &key, const Pending *pending, size_t count)
{
    OrderByName(count, [&](size_t i) { return pending[i].value.Name(); });
    auto order = [&](size_t k) { return Index(packed_[k]); };
    std::vector<registry::RegValue> &merged = plain_;
    merged.clear();
    size_t i = 0, j = 0;
    while (i < key.values.size() || j < count) {
        // The values are taken in their order, not the file's: each asked
        // for a while before it is needed.
        if (j + kAhead < count)
            __builtin_prefetch(&pending[order(j + kAhead)]);
        if (j == count || (i < key.values.size() && Before(key.values[i], pending[order(j)].value))) {
            merged.push_back(key.values[i++]);
            continue;
        }
        std::optional<registry::RegValue> current;
        if (i < key.values.size() && registry::CompareNames(key.values[i].Name(), pending[order(j)].value.Name()) == 0)
            current = key.values[i++];
        size_t k = j;
        for (; k < count && (k == j || tie_[k]); ++k) {
            const Pending &p = pending[order(k)];
            if (p.remove)
                current.reset();
            else if (current) // the first spelling stays
                registry_.Rewrite(*current, p.value.type, p.value.Data());
            else
                current = p.value;
        }
        if (current)
            merged.push_back(*current);
        j = k;
    }
    registry_.ReplaceValues(key, merged.data(), merged.size());
}

} // namespace regfile
