// A parent's children found again by name, case folded, whatever order they
// came in: open addressing in groups of sixteen slots, each slot with a byte
// of its child's hash beside the others, so that a name looked for is
// compared only with the children whose byte it shares and a name not
// there is told from sixteen bytes at a time without touching any child.
#ifndef SAMBREL_REGFILE_CHILD_INDEX_H
#define SAMBREL_REGFILE_CHILD_INDEX_H

#include "registry/model.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace regfile {

class ChildIndex {
public:
    // The same for names that differ only in case.
    static std::uint64_t Hash(std::u16string_view name);

    // Empty, with room for at least count children.
    void Reset(size_t count);
    // A child not there yet, and its name's hash. The index grows to twice
    // its size when it would be more than seven eighths full, from what it
    // holds, without reading the children's names again.
    void Put(registry::RegKey *child, std::uint64_t hash);
    registry::RegKey *Find(std::u16string_view name, std::uint64_t hash) const;
    size_t Size() const { return used_; }

private:
    static constexpr size_t kGroup = 16;
    static constexpr std::uint8_t kFree = 0x80;
    static std::uint8_t Tag(std::uint64_t hash) { return static_cast<std::uint8_t>(hash >> 57); }
    size_t Group(std::uint32_t low) const { return low & (tags_.size() / kGroup - 1); }
    // Which of the sixteen bytes from at equal tag, one bit each.
    static unsigned Matches(const std::uint8_t *at, std::uint8_t tag);
    void Place(registry::RegKey *child, std::uint32_t low, std::uint8_t tag);
    void Grow();

    // A slot's child, and its hash's low 32 bits, which say its group
    // however large the index grows: in one place, written at once.
    struct Slot {
        registry::RegKey *child;
        std::uint32_t low;
    };

    // By slot: 7 bits of the hash, or kFree, and the rest.
    std::vector<std::uint8_t> tags_;
    std::vector<Slot> slots_;
    size_t used_ = 0;
};

} // namespace regfile

#endif
