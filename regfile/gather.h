// Puts what a registry file lists into a tree in the registry's order,
// whatever order the file lists it in.
#ifndef SAMBREL_REGFILE_GATHER_H
#define SAMBREL_REGFILE_GATHER_H

#include "registry/model.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace regfile {

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
    // A name's first eight characters, folded and packed, in the order of
    // their text.
    struct Packed {
        std::uint64_t prefix;
        std::uint32_t index;
    };

    void Flush();
    void SortByPrefix();
    void Merge(registry::RegKey &key, std::vector<Pending> &pending);
    template <typename NameOf> void OrderByName(size_t count, NameOf nameOf, std::vector<size_t> &order);

    registry::Tree &registry_;
    std::unordered_map<std::u16string, registry::RegKey *> index_;
    std::unordered_map<registry::RegKey *, size_t> unsortedFrom_;
    std::unordered_map<registry::RegKey *, std::vector<Pending>> waiting_;
    registry::RegKey *section_ = nullptr;
    std::vector<Pending> sectionValues_;
    // Reused from one sort or merge to the next.
    std::vector<registry::RegValue> plain_;
    std::vector<size_t> order_, start_;
    std::vector<char> tie_; // whether each name in order_ equals the one before
    std::vector<char16_t> folded_;
    std::vector<Packed> packed_, spare_;
};

} // namespace regfile

#endif
