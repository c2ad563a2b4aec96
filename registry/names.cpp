// Names in the registry's order: case folded as Wine's registry folds them.
#include "registry/names.h"

#include <algorithm>

namespace registry {

namespace {

struct FoldPair {
    char16_t from, to;
};
const FoldPair kFolds[] = {
#include "registry/casefold_table.inc"
};

// Every BMP character's folded form, made once from the pairs.
struct FoldTable {
    char16_t to[0x10000];
    FoldTable()
    {
        for (unsigned c = 0; c < 0x10000; ++c)
            to[c] = static_cast<char16_t>(c);
        for (const FoldPair &p : kFolds)
            to[p.from] = p.to;
    }
};

const FoldTable kFoldTable;

} // namespace

char16_t FoldWide(char16_t c) { return kFoldTable.to[c]; }

bool EqualNoCase(std::u16string_view a, std::u16string_view b)
{
    return a.size() == b.size() && CompareNames(a, b) == 0;
}

int CompareFoldedNames(std::u16string_view a, std::u16string_view b)
{
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        char16_t ca = FoldCase(a[i]);
        char16_t cb = FoldCase(b[i]);
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

} // namespace registry
