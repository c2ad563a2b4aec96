// Windows-1252, the 8-bit encoding of REGEDIT4 files.
#ifndef SAMBREL_TEXT_WINDOWS1252_H
#define SAMBREL_TEXT_WINDOWS1252_H

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace text {

char16_t FromCp1252(unsigned char c);
// n bytes of Windows-1252 text written at out as UTF-16: the end of what
// was written.
char16_t *FromCp1252(const char *bytes, size_t n, char16_t *out);
// The Windows-1252 byte of a character, if it has one.
std::optional<unsigned char> ToCp1252(char16_t c);

} // namespace text

#endif
