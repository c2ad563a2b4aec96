// Puts a registry file's keys and values in the registry's order.
#include "regfile/gather.h"

#include "registry/names.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace regfile {
namespace {

std::u16string IndexId(const registry::RegKey &parent, std::u16string_view name)
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

bool Before(const registry::RegValue &a, const registry::RegValue &b)
{
    return registry::CompareNames(a.Name(), b.Name()) < 0;
}

} // namespace

registry::RegKey &Gatherer::Child(registry::RegKey &parent, std::u16string_view name)
{
    auto &subkeys = parent.subkeys;
    auto unsorted = unsortedFrom_.empty() ? unsortedFrom_.end() : unsortedFrom_.find(&parent);
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

void Gatherer::Value(registry::RegKey &key, std::u16string_view name, registry::Type type, registry::Bytes data,
                     bool remove)
{
    if (&key != section_) {
        Flush();
        section_ = &key;
    }
    sectionValues_.push_back({registry_.MakeValue(name, type, data), remove});
}

void Gatherer::Settle()
{
    Flush();
    for (auto &[parent, from] : unsortedFrom_) {
        (void)from;
        auto &subkeys = parent->subkeys;
        OrderByName(subkeys.size(), [&](size_t i) { return subkeys[i]->Name(); }, order_);
        std::vector<registry::RegKey *> sorted;
        sorted.reserve(order_.size());
        for (size_t i : order_)
            sorted.push_back(subkeys[i]);
        std::copy(sorted.begin(), sorted.end(), subkeys.begin());
    }
    unsortedFrom_.clear();
    index_.clear();
    for (auto &[key, pending] : waiting_)
        Merge(*key, pending);
    waiting_.clear();
}

// The values gathered for the section just read go in at once, or wait.
void Gatherer::Flush()
{
    if (!section_)
        return;
    registry::RegKey &key = *section_;
    section_ = nullptr;
    auto waiting = waiting_.empty() ? waiting_.end() : waiting_.find(&key);
    bool ascending = waiting == waiting_.end();
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
    } else if (waiting == waiting_.end() && key.values.empty()) { // the common case: a new key
        Merge(key, sectionValues_);
    } else {
        auto &list = waiting == waiting_.end() ? waiting_[&key] : waiting->second;
        list.insert(list.end(), sectionValues_.begin(), sectionValues_.end());
    }
    sectionValues_.clear();
}

// The items' order by name in the registry's order, equal names in their
// file order, and which names tie with the one before. A few are sorted in
// place. Many whose first eight characters, folded, are 8-bit (as most
// names' are) are sorted by those characters packed in a number, and only
// names that tie there are compared in full; names in exactly the opposite
// order are turned. Others have each name folded once into one buffer (the
// registry's order is the folded names' order, as plain text).
template <typename NameOf> void Gatherer::OrderByName(size_t count, NameOf nameOf, std::vector<size_t> &order)
{
    order.resize(count);
    tie_.assign(count, 0);
    for (size_t i = 0; i < count; ++i)
        order[i] = i;
    if (count <= 16) {
        for (size_t i = 1; i < count; ++i)
            for (size_t j = i; j > 0 && registry::CompareNames(nameOf(order[j - 1]), nameOf(order[j])) > 0; --j)
                std::swap(order[j - 1], order[j]);
        for (size_t i = 1; i < count; ++i)
            tie_[i] = registry::CompareNames(nameOf(order[i - 1]), nameOf(order[i])) == 0;
        return;
    }

    packed_.resize(count);
    char16_t wide = 0;
    for (size_t i = 0; i < count; ++i) {
        std::u16string_view n = nameOf(i);
        std::uint64_t prefix = 0;
        for (size_t j = 0; j < 8; ++j) {
            char16_t c = j < n.size() ? registry::FoldCase(n[j]) : 0;
            wide |= c;
            prefix = prefix << 8 | (c & 0xFF);
        }
        packed_[i] = {prefix, static_cast<std::uint32_t>(i)};
    }
    if (wide < 0x100) {
        auto compare = [&](const Packed &a, const Packed &b) {
            if (a.prefix != b.prefix)
                return a.prefix < b.prefix ? -1 : 1;
            return registry::CompareNames(nameOf(a.index), nameOf(b.index));
        };
        bool descending = true;
        for (size_t i = 1; descending && i < count; ++i)
            descending = compare(packed_[i - 1], packed_[i]) > 0;
        if (descending) {
            std::reverse(order.begin(), order.end());
            return;
        }
        SortByPrefix();
        // Names that tie in their first eight characters, in file order
        // from the sort, are put in order by the rest.
        for (size_t i = 0, j; i < count; i = j) {
            for (j = i + 1; j < count && packed_[j].prefix == packed_[i].prefix;)
                ++j;
            if (j - i > 1)
                std::sort(packed_.begin() + i, packed_.begin() + j, [&](const Packed &a, const Packed &b) {
                    int c = compare(a, b);
                    return c != 0 ? c < 0 : a.index < b.index; // equal names keep their file order
                });
        }
        for (size_t i = 0; i < count; ++i) {
            order[i] = packed_[i].index;
            tie_[i] = i > 0 && compare(packed_[i - 1], packed_[i]) == 0;
        }
        return;
    }

    folded_.clear();
    start_.resize(count + 1);
    for (size_t i = 0; i < count; ++i) {
        start_[i] = folded_.size();
        for (char16_t c : nameOf(i))
            folded_.push_back(registry::FoldCase(c));
    }
    start_[count] = folded_.size();
    auto name = [&](size_t i) { return std::u16string_view(folded_.data() + start_[i], start_[i + 1] - start_[i]); };
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        int c = name(a).compare(name(b));
        return c != 0 ? c < 0 : a < b; // equal names keep their file order
    });
    for (size_t i = 1; i < count; ++i)
        tie_[i] = name(order[i - 1]) == name(order[i]);
}

// packed_ in the order of its prefixes, keeping the order of equal ones:
// a byte at a time from the last, leaving out bytes that all share.
void Gatherer::SortByPrefix()
{
    std::vector<size_t> counts(8 * 256);
    for (const Packed &p : packed_)
        for (size_t b = 0; b < 8; ++b)
            ++counts[b * 256 + (p.prefix >> (8 * b) & 0xFF)];
    spare_.resize(packed_.size());
    for (size_t b = 0; b < 8; ++b) {
        size_t *count = &counts[b * 256];
        if (std::count(count, count + 256, size_t{0}) == 255)
            continue;
        size_t at = 0;
        for (size_t v = 0; v < 256; ++v)
            at += std::exchange(count[v], at);
        for (const Packed &p : packed_)
            spare_[count[p.prefix >> (8 * b) & 0xFF]++] = p;
        packed_.swap(spare_);
    }
}

void Gatherer::Merge(registry::RegKey &key, std::vector<Pending> &pending)
{
    OrderByName(pending.size(), [&](size_t i) { return pending[i].value.Name(); }, order_);
    const std::vector<size_t> &order = order_;
    std::vector<registry::RegValue> &merged = plain_;
    merged.clear();
    size_t i = 0, j = 0;
    while (i < key.values.size() || j < order.size()) {
        if (j == order.size() || (i < key.values.size() && Before(key.values[i], pending[order[j]].value))) {
            merged.push_back(key.values[i++]);
            continue;
        }
        std::optional<registry::RegValue> current;
        if (i < key.values.size() && registry::CompareNames(key.values[i].Name(), pending[order[j]].value.Name()) == 0)
            current = key.values[i++];
        size_t k = j;
        for (; k < order.size() && (k == j || tie_[k]); ++k) {
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

} // namespace regfile
