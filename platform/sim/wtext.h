// Conversions between the handheld's UTF-16 text and the host's UTF-8.
#ifndef SAMBREL_SIM_WTEXT_H
#define SAMBREL_SIM_WTEXT_H

#include <string>
#include <string_view>
#include <vector>

namespace sim {

// What to do with bytes that are not UTF-8: put U+FFFD for them, or refuse
// the text (giving the offset of the first).
enum class Utf8Errors { Replace, Refuse };
bool DecodeUtf8(std::string_view utf8, std::u16string &out, Utf8Errors policy, size_t *badAt = nullptr);
bool ValidUtf8(std::string_view utf8, size_t *badAt = nullptr);

// UTF-8 to UTF-16 with replacement, and back (a lone surrogate as U+FFFD).
std::u16string U16(std::string_view utf8);
std::string Utf8(std::u16string_view text);

// UTF-16LE bytes of a text (with its terminator unless told otherwise), as
// registry data holds it, and a text from such bytes (an odd last byte is
// not a character).
std::vector<unsigned char> Utf16Bytes(std::u16string_view text, bool terminate = true);
std::u16string FromUtf16Bytes(const unsigned char *bytes, size_t size);

// The registry's case folding, as Wine's: every character of the Basic
// Multilingual Plane to its simple lower case.
char16_t FoldCase(char16_t c);
bool EqualNoCase(std::u16string_view a, std::u16string_view b);
// Wine's order for key and value names: folded characters compared in turn,
// and a name that is a prefix of the other comes first.
int CompareNames(std::u16string_view a, std::u16string_view b);

} // namespace sim

#endif
