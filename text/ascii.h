// ASCII letters in one case, every other byte as it is: how names that are
// ASCII by definition (options and their values, operations and errors, a
// library's name, a file's extension, a button's label) are matched without
// case, whatever the locale.
#ifndef SAMBREL_TEXT_ASCII_H
#define SAMBREL_TEXT_ASCII_H

#include <string>
#include <string_view>

namespace text {

enum class AsciiCase { Lower, Upper };

// s with A to Z as a to z (Lower), or a to z as A to Z (Upper).
std::string AsciiFolded(std::string_view s, AsciiCase to = AsciiCase::Lower);

} // namespace text

#endif
