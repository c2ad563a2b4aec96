/*
 * The process entry on the desktop: no C runtime start-up, no initialisers,
 * no exit routines; WinMain's result is the exit code.
 */
#include "platform/coredll.h"
#include "app/winmain.h"

extern "C" void WINAPI SambrelStartup(void)
{
    WCHAR szNoCommandLine[1] = {0};

    ::ExitProcess((UINT)WinMain(::GetModuleHandleW(NULL), NULL, szNoCommandLine, SW_SHOWDEFAULT));
}
