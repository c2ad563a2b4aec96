// The conformance checks on the real Win32 API.
#include "conformance.h"

int main()
{
    return RunConformance() == 0 ? 0 : 1;
}
