// Conversions between the handheld's UTF-16 text and the host's UTF-8.
#ifndef SAMBREL_SIM_WTEXT_H
#define SAMBREL_SIM_WTEXT_H

#include <string>
#include <string_view>

namespace sim {

std::u16string U16(std::string_view utf8);
std::string Utf8(std::u16string_view text);

// The registry's case folding, as Wine's: every character of the Basic
// Multilingual Plane to its simple lower case.
char16_t FoldCase(char16_t c);
bool EqualNoCase(std::u16string_view a, std::u16string_view b);
// Wine's order for key and value names: folded characters compared in turn,
// and a name that is a prefix of the other comes first.
int CompareNames(std::u16string_view a, std::u16string_view b);

} // namespace sim

#endif
