// The handheld's wide formatter (wsprintf rules), for wsprintfW and
// wvsprintfW; the string routines are the core library's own.
#ifndef SAMBREL_SIM_FORMAT_H
#define SAMBREL_SIM_FORMAT_H

#include "coredll_types.h"

namespace sim {

// What wsprintfW writes at most, terminator included.
constexpr int kWsprintfLimit = 1024;

// Where the formatter takes its arguments from, one conversion at a time:
// a C va_list, or another machine's argument words.
class FormatArgs {
public:
    virtual ~FormatArgs() = default;
    virtual int Int() = 0;
    virtual unsigned Unsigned() = 0;
    virtual const WCHAR *WideText() = 0;    // nullptr for a null pointer
    virtual const char *NarrowText() = 0;   // nullptr for a null pointer
};

// The arguments of a C variadic call.
class VaListArgs : public FormatArgs {
public:
    explicit VaListArgs(va_list args) { va_copy(args_, args); }
    ~VaListArgs() override { va_end(args_); }
    VaListArgs(const VaListArgs &) = delete;
    VaListArgs &operator=(const VaListArgs &) = delete;
    int Int() override { return va_arg(args_, int); }
    unsigned Unsigned() override { return va_arg(args_, unsigned); }
    const WCHAR *WideText() override { return va_arg(args_, const WCHAR *); }
    const char *NarrowText() override { return va_arg(args_, const char *); }

private:
    va_list args_;
};

// Formats into out, writing at most cap characters including the
// terminator, which it always writes when cap > 0. Returns the characters
// written without the terminator, or -1 when the text had to be cut.
int FormatW(WCHAR *out, int cap, const WCHAR *format, FormatArgs &args);
int FormatW(WCHAR *out, int cap, const WCHAR *format, va_list args);

// wsprintfW: at most kWsprintfLimit characters with the terminator; returns
// the characters written.
int WsprintfW(WCHAR *out, const WCHAR *format, FormatArgs &args);

} // namespace sim

#endif
