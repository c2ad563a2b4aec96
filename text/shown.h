// Text from files, names, registries, images and cabinets as it is shown to
// a person: control characters escaped, so that nothing from a file can
// drive the terminal and a NUL cannot cut a message short, and anything
// long cut with "...".
#ifndef SAMBREL_TEXT_SHOWN_H
#define SAMBREL_TEXT_SHOWN_H

#include <cstddef>
#include <string>
#include <string_view>

namespace text {

struct ShowOptions {
    // Line ends ('\n') kept as they are, not escaped.
    bool lineEnds = false;
    // Bytes from 0x80 on kept as UTF-8, whose C1 controls (U+0080 to U+009F)
    // and bidirectional embeddings, overrides and isolates (U+202A to
    // U+202E, U+2066 to U+2069) are escaped as \uNNNN; else each escaped as
    // \xNN.
    bool utf8 = true;
    // Cut, with "...", once this many bytes are shown (escapes counted), or,
    // where counted is Given, once this many of the text given are.
    std::size_t limit = 2000;
    enum Counted { Shown, Given } counted = Shown;
};

// Whether a character is a bidirectional embedding, override or isolate
// (U+202A to U+202E, U+2066 to U+2069): shown raw, it would reorder what a
// person reads around it.
bool Reorders(char32_t c);

// text with its C0 controls and DEL escaped as \xNN, and the rest as the
// options say.
std::string Shown(std::string_view text, const ShowOptions &options = {});

} // namespace text

#endif
