// The conformance checks on the real Win32 API.
#include "tests/conformance/conformance.h"

#include <cstdio>

void ConformanceReport(const char *line)
{
    std::puts(line);
}

int main()
{
    return RunConformance() == 0 ? 0 : 1;
}
