/*
 * The program's entry, called by the platform's start-up code; its result
 * is the process exit code.
 */
#ifndef SAMBREL_APP_WINMAIN_H
#define SAMBREL_APP_WINMAIN_H

#include "platform/coredll.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR lpCmdLine,
                   int nShowCmd);

#endif
