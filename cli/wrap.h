// Words wrapped to a width, as a static control lays out its text: for the
// terminal's dialog and for the dialog printed without one.
#ifndef SAMBREL_CLI_WRAP_H
#define SAMBREL_CLI_WRAP_H

#include <string>
#include <string_view>
#include <vector>

namespace cli {

// The lines of text at most width characters wide: broken after spaces, at
// line ends (CR, LF or both, as DrawText breaks them), and inside a word
// longer than a line.
std::vector<std::u16string> WrapText(std::u16string_view text, size_t width);

} // namespace cli

#endif
