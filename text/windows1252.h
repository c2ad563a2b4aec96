// Windows-1252, the 8-bit encoding of REGEDIT4 files.
#ifndef SAMBREL_TEXT_WINDOWS1252_H
#define SAMBREL_TEXT_WINDOWS1252_H

#include <optional>
#include <string>
#include <string_view>

namespace text {

char16_t FromCp1252(unsigned char c);
// The Windows-1252 byte of a character, if it has one.
std::optional<unsigned char> ToCp1252(char16_t c);

} // namespace text

#endif
