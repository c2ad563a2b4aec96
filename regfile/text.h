// Character encodings of .reg files: Windows-1252, UTF-8 and UTF-16LE.
#ifndef SAMBREL_REGFILE_TEXT_H
#define SAMBREL_REGFILE_TEXT_H

#include <optional>
#include <string>
#include <string_view>

namespace regfile {

char16_t FromCp1252(unsigned char c);
// The Windows-1252 byte of a character, if it has one.
std::optional<unsigned char> ToCp1252(char16_t c);

// Decodes UTF-8 strictly (unlike sim::U16, which replaces what it cannot
// read); on failure gives the byte offset of the fault.
bool DecodeUtf8(std::string_view bytes, std::u16string &out, size_t &badAt);
// The same check, without the decoded text.
bool ValidUtf8(std::string_view bytes, size_t &badAt);

} // namespace regfile

#endif
