/*
 * The core library on the handheld: each operation goes to COREDLL.dll by
 * its ordinal, through its import (public/coredll_imports.h). Nothing else
 * may stay undefined.
 */
#include "platform/coredll.h"
#include "platform/wince/public/coredll_imports.h"

namespace coredll {

#define COREDLL_OPERATION(ordinal, name, fails, desktop, bridge, result, parameters, arguments) \
    result name parameters { return Ce##name arguments; }
#define COREDLL_VARIADIC(...)
#include "platform/coredll_operations.h"

/* A variadic call cannot be forwarded as it stands; the handheld's
 * va_list is a plain pointer to the arguments, as this compiler's is. */
int wsprintfW(LPWSTR lpOut, LPCWSTR lpFmt, ...)
{
    va_list args;
    int n;

    va_start(args, lpFmt);
    n = CewvsprintfW(lpOut, lpFmt, args);
    va_end(args);
    return n;
}

} // namespace coredll
