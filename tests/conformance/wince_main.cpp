// The conformance checks on the handheld: a CE image whose report lines are
// message boxes captioned "conformance".
#include "tests/conformance/conformance.h"

void ConformanceReport(const char *line)
{
    WCHAR text[400];
    unsigned n = 0;
    for (; line[n] && n + 1 < sizeof text / sizeof text[0]; ++n)
        text[n] = (WCHAR)(unsigned char)line[n];
    text[n] = 0;
    coredll::MessageBoxW(NULL, text, TEXT("conformance"), MB_OK);
}

// The compiler copies and clears the checks' tables with memcpy and memset:
// memset is the core library's, memcpy the test program's own (the
// handheld's library has none by that name). The volatile target keeps the
// loop from being turned into memcpy itself.
extern "C" void *memcpy(void *dest, const void *src, size_t n)
{
    volatile unsigned char *d = (volatile unsigned char *)dest;
    const unsigned char *s = (const unsigned char *)src;
    for (size_t i = 0; i < n; ++i)
        d[i] = s[i];
    return dest;
}

extern "C" void *memset(void *dest, int c, size_t n)
{
    return coredll::memset(dest, c, n);
}

extern "C" int ConformanceStartup(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    return RunConformance() == 0 ? 0 : 1;
}
