// Children found by name through a table of hash bytes.
#include "regfile/child_index.h"

#include "registry/names.h"

#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace regfile {
namespace {

std::uint64_t Mix(std::uint64_t h, std::uint64_t chars)
{
    h = (h ^ chars) * 0x9E3779B97F4A7C15u;
    return h ^ h >> 29;
}

} // namespace

std::uint64_t ChildIndex::Hash(std::u16string_view name)
{
    std::uint64_t h = name.size();
    size_t i = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    // Four ASCII characters folded at once, each in the lane a character
    // at a time would put it in.
    for (; i + 4 <= name.size(); i += 4) {
        std::uint64_t four;
        std::memcpy(&four, name.data() + i, 8);
        if (four & 0xFF80FF80FF80FF80u)
            break;
        h = Mix(h, registry::FoldAsciiLanes(four));
    }
#endif
    while (i < name.size()) {
        std::uint64_t chars = 0;
        for (size_t lane = 0; lane < 4 && i < name.size(); ++lane, ++i)
            chars |= std::uint64_t{registry::FoldCase(name[i])} << 16 * lane;
        h = Mix(h, chars);
    }
    h *= 0xD6E8FEB86659FD93u;
    return h ^ h >> 32;
}

unsigned ChildIndex::Matches(const std::uint8_t *at, std::uint8_t tag)
{
#if defined(__SSE2__)
    __m128i tags = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(tags, _mm_set1_epi8(static_cast<char>(tag)))));
#else
    unsigned bits = 0;
    for (unsigned i = 0; i < kGroup; ++i)
        bits |= unsigned{at[i] == tag} << i;
    return bits;
#endif
}

void ChildIndex::Reset(size_t count)
{
    size_t slots = kGroup;
    while (8 * count > 7 * slots)
        slots *= 2;
    tags_.assign(slots, kFree);
    slots_.assign(slots, Slot{nullptr, 0});
    used_ = 0;
}

void ChildIndex::Put(registry::RegKey *child, std::uint64_t hash)
{
    if (8 * (used_ + 1) > 7 * tags_.size())
        Grow();
    Place(child, static_cast<std::uint32_t>(hash), Tag(hash));
}

void ChildIndex::Place(registry::RegKey *child, std::uint32_t low, std::uint8_t tag)
{
    size_t groups = tags_.size() / kGroup;
    for (size_t g = Group(low);; g = (g + 1) & (groups - 1)) {
        if (unsigned free = Matches(&tags_[g * kGroup], kFree)) {
            size_t at = g * kGroup + static_cast<size_t>(__builtin_ctz(free));
            tags_[at] = tag;
            slots_[at] = {child, low};
            ++used_;
            return;
        }
    }
}

void ChildIndex::Grow()
{
    std::vector<std::uint8_t> tags = std::move(tags_);
    std::vector<Slot> slots = std::move(slots_);
    Reset(2 * used_ + 1);
    for (size_t i = 0; i < tags.size(); ++i)
        if (tags[i] != kFree)
            Place(slots[i].child, slots[i].low, tags[i]);
}

registry::RegKey *ChildIndex::Find(std::u16string_view name, std::uint64_t hash) const
{
    if (tags_.empty())
        return nullptr;
    size_t groups = tags_.size() / kGroup;
    for (size_t g = Group(static_cast<std::uint32_t>(hash));; g = (g + 1) & (groups - 1)) {
        const std::uint8_t *at = &tags_[g * kGroup];
        for (unsigned same = Matches(at, Tag(hash)); same; same &= same - 1) {
            registry::RegKey *child = slots_[g * kGroup + static_cast<size_t>(__builtin_ctz(same))].child;
            if (registry::EqualNoCase(child->Name(), name))
                return child;
        }
        if (Matches(at, kFree)) // the run of groups a name may lie in ends here
            return nullptr;
    }
}

} // namespace regfile
