/*
 * The process entry on the handheld. The loader calls it with WinMain's
 * four arguments and ends the process with its result: there is no C
 * runtime, no initialiser and no exit routine to run around it.
 */
#include "platform/coredll.h"
#include "app/winmain.h"

extern "C" int SambrelStartup(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR lpCmdLine,
                              int nShowCmd)
{
    return WinMain(hInstance, hPrevInstance, lpCmdLine, nShowCmd);
}
