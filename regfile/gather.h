// Puts what a registry file lists into a tree in the registry's order,
// whatever order the file lists it in.
#ifndef SAMBREL_REGFILE_GATHER_H
#define SAMBREL_REGFILE_GATHER_H

#include "registry/model.h"

#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace regfile {

// The children a parent was given out of order, from the first of them
// on, found again by name, case folded: open addressing in one table per
// parent that doubles, holding a number per child, so that no child costs
// an allocation of its own and a shuffled file little memory.
class OutOfOrder {
public:
    explicit OutOfOrder(size_t from) : from(from) {}

    static std::uint64_t Hash(std::u16string_view name);
    registry::RegKey *Find(const registry::RegKey &parent, std::u16string_view name, std::uint64_t hash) const;
    // The child at this place in parent's subkeys.
    void Add(size_t at, std::uint64_t hash);

    size_t from; // the children before it are in order

private:
    void Put(std::uint64_t slot);

    // The hash's high half and the child's place + 1 (0: free), a power of
    // two of them, at most half used.
    std::vector<std::uint64_t> slots_;
    size_t used_ = 0;
};

// Builds the registry in O(n log n) whatever order the file lists keys and
// values in. A child that sorts after its parent's last is appended; one
// that does not is appended too, and its parent is put back in order, once,
// at the end of the file or before a deletion (such children are found
// again through an index meanwhile). A section's values go in as one piece
// when the key has none yet or they follow its own in order; the rest wait
// for one sort per key. A value's first spelling and last data win, and
// deletions apply in file order.
class Gatherer {
public:
    explicit Gatherer(registry::Tree &registry) : registry_(registry) {}

    registry::RegKey &Child(registry::RegKey &parent, std::u16string_view name);
    // A value set (or, with remove, deleted) in key's section.
    void Value(registry::RegKey &key, std::u16string_view name, registry::Type type, registry::Bytes data,
               bool remove);
    // Everything in order; the index is forgotten, since a deletion may
    // take out the keys it points to.
    void Settle();

private:
    struct Pending {
        registry::RegValue value;
        bool remove;
    };
    // A few characters of a name from some depth on, folded and packed in
    // the order of their text, with how many of them the name has.
    struct Packed {
        std::uint64_t prefix;
        std::uint32_t index;
    };
    // Names at from..to of packed_ that share their first depth
    // characters, folded.
    struct Tied {
        size_t from, to, depth;
    };

    void Flush();
    template <typename NameOf> void SortTied(const Tied &tied, NameOf nameOf);
    void SortByPrefix(size_t from, size_t to);
    void Merge(registry::RegKey &key, std::vector<Pending> &pending);
    template <typename NameOf> void OrderByName(size_t count, NameOf nameOf);

    registry::Tree &registry_;
    std::unordered_map<registry::RegKey *, OutOfOrder> unsorted_;
    std::unordered_map<registry::RegKey *, std::vector<Pending>> waiting_;
    registry::RegKey *section_ = nullptr;
    std::vector<Pending> sectionValues_;
    // Reused from one sort or merge to the next.
    std::vector<registry::RegValue> plain_;
    std::vector<char> tie_; // whether each name in packed_ equals the one before
    std::vector<Packed> packed_, spare_;
    std::vector<Tied> tied_;
};

} // namespace regfile

#endif
