// The handheld's wide formatter (wsprintf rules) and string routines.
#ifndef SAMBREL_SIM_FORMAT_H
#define SAMBREL_SIM_FORMAT_H

#include "coredll_types.h"

namespace sim {

// What wsprintfW writes at most, terminator included.
constexpr int kWsprintfLimit = 1024;

// Formats into out, writing at most cap characters including the
// terminator, which it always writes when cap > 0. Returns the characters
// written without the terminator, or -1 when the text had to be cut.
int FormatW(WCHAR *out, int cap, const WCHAR *format, va_list args);

} // namespace sim

#endif
