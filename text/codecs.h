// Text codecs, one of each, for the simulated handheld, the registry files,
// the tests and the benchmarks: UTF-8 and UTF-16LE (Windows-1252, the
// 8-bit encoding of REGEDIT4 files, is text/windows1252.h).
#ifndef SAMBREL_TEXT_CODECS_H
#define SAMBREL_TEXT_CODECS_H

#include <string>
#include <string_view>
#include <vector>

namespace text {

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

} // namespace text

#endif
