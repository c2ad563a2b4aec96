// What files, names, registries and images hold, as the command shows it to
// a person: text/shown.h's way, with UTF-8 kept (its C1 controls escaped)
// and anything longer than max bytes (2000 unless told) cut.
#ifndef SAMBREL_CLI_SHOWN_H
#define SAMBREL_CLI_SHOWN_H

#include "text/shown.h"

#include <string>

namespace cli {

// Line ends are escaped too, unless keepLineEnds.
inline std::string Shown(const std::string &utf8, bool keepLineEnds = false, std::size_t max = 2000)
{
    return text::Shown(utf8, {keepLineEnds, true, max});
}

} // namespace cli

#endif
