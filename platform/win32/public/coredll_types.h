/*
 * Win32 types and constants for the real API: the SDK's own.
 */
#ifndef SAMBREL_PLATFORM_WIN32_COREDLL_TYPES_H
#define SAMBREL_PLATFORM_WIN32_COREDLL_TYPES_H

#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#define WIN32_LEAN_AND_MEAN

#include <stdarg.h>
#include <stddef.h>

/* The desktop SDK declares WinMain with an 8-bit command line; the
 * handheld's takes wide text, and the program is written for the handheld.
 * The desktop's declaration is set aside under another name. */
#define WinMain DesktopSdkWinMain
#include <windows.h>
#undef WinMain

#endif
