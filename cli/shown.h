// What files, names, registries and images hold, as it is shown to a
// person: control characters escaped (so that nothing from a file can drive
// the terminal, and a NUL cannot cut a message short), and anything long cut
// with an ellipsis.
#ifndef SAMBREL_CLI_SHOWN_H
#define SAMBREL_CLI_SHOWN_H

#include <string>

namespace cli {

// Escapes C0 controls and DEL as \xNN (line ends too, unless keepLineEnds)
// and C1 controls as \uNNNN, and cuts utf8 after max bytes with "...".
std::string Shown(const std::string &utf8, bool keepLineEnds = false, size_t max = 2000);

} // namespace cli

#endif
