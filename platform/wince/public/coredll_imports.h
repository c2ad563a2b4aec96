/*
 * COREDLL.dll as the handheld's programs import it: each operation of the
 * core library's table as a C function CeNAME, an undefined symbol
 * coredll_ordinal_N that the image converter turns into an import by
 * ordinal N. The forwarders include it, and so do the test programs that
 * call the library as a guest would.
 */
#ifndef SAMBREL_PLATFORM_WINCE_COREDLL_IMPORTS_H
#define SAMBREL_PLATFORM_WINCE_COREDLL_IMPORTS_H

#include "coredll_types.h"

extern "C" {
#define COREDLL_OPERATION(ordinal, name, fails, desktop, bridge, result, parameters, arguments) \
    result Ce##name parameters __asm__("coredll_ordinal_" #ordinal);
#include "platform/coredll_operations.h"
}

#endif
