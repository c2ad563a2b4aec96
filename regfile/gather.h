// Puts what a registry file lists into a tree in the registry's order,
// whatever order the file lists it in.
#ifndef SAMBREL_REGFILE_GATHER_H
#define SAMBREL_REGFILE_GATHER_H

#include "regfile/child_index.h"
#include "registry/model.h"

#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace regfile {

// The children of a parent that was given one out of order, found again by
// name, case folded. Those in order before the first out of order are
// found through an index; as long as the others come in one run, each
// after the one before or each before it (a second sorted list, or a file
// listed backwards), they are searched where they lie, and merged with the
// first at the end rather than sorted. Once they do not, every child is
// found through the index.
class OutOfOrder {
public:
    explicit OutOfOrder(size_t from) : from_(from) {}

    // The children before these are in order.
    size_t From() const { return from_; }
    // Whether they are one run, and which way it goes.
    bool OneRun() const { return !broken_; }
    bool Descending() const { return direction_ < 0; }

    // The child of that name, if any; what it learns of the name is kept
    // for Added.
    registry::RegKey *Find(const registry::RegKey &parent, std::u16string_view name);
    // The child last looked for (or the first out of order) was appended.
    void Added(const registry::RegKey &parent);

private:
    // The parent's first count children in the index, with room for twice
    // their number.
    void Reindex(const registry::RegKey &parent, size_t count);

    size_t from_;
    bool broken_ = false;
    int direction_ = 0; // of the run: 1 each after the one before, -1 each before, 0 one child so far
    int side_ = 0;      // of the name looked for, against the run's last: 1 after, -1 before, 0 inside
    std::uint64_t hash_ = 0;
    ChildIndex index_;
};

// Builds the registry in O(n log n) whatever order the file lists keys and
// values in. A child that sorts after its parent's last is appended; one
// that does not is appended too, and its parent is put back in order, once,
// at the end of the file or before a deletion (such children are found
// again through an index meanwhile). A section's values go in as one piece
// when the key has none yet or they follow its own in order, and are
// merged into its own at once when both are few; the rest wait for one
// sort per key. A value's first spelling and last data win, and deletions
// apply in file order.
class Gatherer {
public:
    explicit Gatherer(registry::Tree &registry) : registry_(registry) {}
    // A load given up leaves no marks in the tree.
    ~Gatherer()
    {
        for (Marked &marked : marked_)
            marked.key->mark = 0;
    }
    Gatherer(const Gatherer &) = delete;
    Gatherer &operator=(const Gatherer &) = delete;

    registry::RegKey &Child(registry::RegKey &parent, std::u16string_view name);
    // A value set (or, with remove, deleted) in key's section: the place
    // where the caller makes it.
    registry::RegValue &Value(registry::RegKey &key, bool remove)
    {
        if (&key != section_) {
            Flush();
            section_ = &key;
        }
        Pending &pending = sectionValues_.emplace_back(); // made in place: no copy to stall on
        pending.remove = remove;
        return pending.value;
    }
    // The last section's values go in (or wait), before the next section
    // makes keys of its own: a key's values then lie next to it.
    void SectionEnds() { Flush(); }
    // Everything in order; the index is forgotten, since a deletion may
    // take out the keys it points to.
    void Settle();

private:
    struct Pending {
        registry::RegValue value;
        bool remove;
    };
    // Names at from..to of packed_ that share their first depth
    // characters, folded.
    struct Tied {
        size_t from, to, depth;
    };

    void Flush();
    bool FewInOrder(registry::RegKey &key);
    void Order(registry::RegKey &parent, OutOfOrder &outOfOrder);
    template <typename NameOf> void OrderFew(size_t count, NameOf nameOf);
    template <typename NameOf> void SortTied(const Tied &tied, NameOf nameOf);
    template <typename NameOf>
    size_t Pack(const Tied &tied, std::u16string_view shared, NameOf nameOf, size_t &chars);
    void SortByBytes(size_t from, size_t to);
    size_t Index(std::uint64_t packed) const { return static_cast<size_t>(packed & ((std::uint64_t{1} << indexBits_) - 1)); }
    void Merge(registry::RegKey &key, const Pending *pending, size_t count);
    template <typename NameOf> void OrderByName(size_t count, NameOf nameOf);

    // A key whose children came out of order, or whose values wait for
    // their sort: the key's mark is its place in marked_ + 1, so that a
    // key is told from the others without a search, and what is kept of it
    // is small enough for many keys' marks to stay in the cache.
    struct Marked {
        registry::RegKey *key;
        std::uint32_t children; // its children's place in unsorted_ + 1, or 0
        bool waits;             // it has values in waiting_
    };
    // A value that waits for its key's sort, in file order.
    struct Waiting {
        std::uint32_t marked;
        Pending pending;
    };
    Marked &Mark(registry::RegKey &key);
    Marked *MarkOf(const registry::RegKey &key) { return key.mark ? &marked_[key.mark - 1] : nullptr; }
    void MergeWaiting();

    registry::Tree &registry_;
    std::vector<Marked> marked_;
    std::vector<OutOfOrder> unsorted_;
    std::vector<Waiting> waiting_;
    registry::RegKey *section_ = nullptr;
    std::vector<Pending> sectionValues_;
    // Reused from one sort or merge to the next.
    std::vector<registry::RegValue> plain_;
    std::vector<char> tie_; // whether each name in packed_ equals the one before
    // Each name's index in its list, below a few of its characters from
    // some depth on, folded and packed in the order of their text.
    std::vector<std::uint64_t> packed_, spare_;
    unsigned indexBits_ = 1;
    std::vector<Tied> tied_;
};

} // namespace regfile

#endif
