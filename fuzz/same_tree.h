// Whether two registries hold the same tree: the same keys and values, in
// the same order, spelt the same, of the same types and data; for the
// registry files' fuzz targets.
#ifndef SAMBREL_FUZZ_SAME_TREE_H
#define SAMBREL_FUZZ_SAME_TREE_H

#include "registry/model.h"

#include <vector>

namespace fuzz {

// Compared without recursion: a fuzzed file may nest keys 512 deep.
inline bool SameTree(const registry::RegKey &top, const registry::RegKey &other)
{
    std::vector<std::pair<const registry::RegKey *, const registry::RegKey *>> pending{{&top, &other}};
    while (!pending.empty()) {
        auto [a, b] = pending.back();
        pending.pop_back();
        if (a->Name() != b->Name() || a->values.size() != b->values.size() || a->subkeys.size() != b->subkeys.size())
            return false;
        for (size_t i = 0; i < a->values.size(); ++i)
            if (a->values[i].Name() != b->values[i].Name() || a->values[i].type != b->values[i].type ||
                a->values[i].Data() != b->values[i].Data())
                return false;
        for (size_t i = 0; i < a->subkeys.size(); ++i)
            pending.emplace_back(a->subkeys[i], b->subkeys[i]);
    }
    return true;
}

inline bool SameTree(const registry::Tree &a, const registry::Tree &b)
{
    for (registry::Root root : registry::AllRoots())
        if (!SameTree(a.RootKey(root), b.RootKey(root)))
            return false;
    return true;
}

} // namespace fuzz

#endif
