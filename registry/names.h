// Key and value names in the registry's order.
#ifndef SAMBREL_REGISTRY_NAMES_H
#define SAMBREL_REGISTRY_NAMES_H

#include <string_view>

namespace registry {

// The registry's case folding, as Wine's: every character of the Basic
// Multilingual Plane to its simple lower case.
char16_t FoldCase(char16_t c);
bool EqualNoCase(std::u16string_view a, std::u16string_view b);
// Wine's order for key and value names: folded characters compared in turn,
// and a name that is a prefix of the other comes first.
int CompareNames(std::u16string_view a, std::u16string_view b);

} // namespace registry

#endif
