// Windows-1252, the 8-bit encoding of REGEDIT4 files (UTF-8 and UTF-16 are
// the shared codecs, text/codecs.h).
#ifndef SAMBREL_REGFILE_TEXT_H
#define SAMBREL_REGFILE_TEXT_H

#include <optional>
#include <string>
#include <string_view>

namespace regfile {

char16_t FromCp1252(unsigned char c);
// The Windows-1252 byte of a character, if it has one.
std::optional<unsigned char> ToCp1252(char16_t c);

} // namespace regfile

#endif
