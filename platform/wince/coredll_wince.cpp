/*
 * The core library on the handheld: each operation goes to COREDLL.dll by
 * its ordinal. An import is an undefined symbol named coredll_ordinal_N;
 * the image converter turns it into an import by ordinal and a jump through
 * the import table. Nothing else may stay undefined.
 */
#include "platform/coredll.h"

extern "C" {
#define COREDLL_OPERATION(ordinal, name, fails, desktop, result, parameters, arguments) \
    result Ce##name parameters __asm__("coredll_ordinal_" #ordinal);
#include "platform/coredll_operations.h"
}

namespace coredll {

#define COREDLL_OPERATION(ordinal, name, fails, desktop, result, parameters, arguments) \
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
