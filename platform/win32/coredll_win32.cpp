/*
 * The core library over the desktop's Win32 API: thin forwarders, made
 * from the table's forwarded rows, and by hand the bridged ones, where the
 * desktop differs from the handheld.
 *
 * - The handheld ignores access masks; a desktop registry refuses writes on
 *   a handle opened with none. Keys are opened for reading and created for
 *   reading and writing.
 * - Desktop registry calls return their error without setting the thread's
 *   last-error code; the program reports that code, so a failed call sets it.
 */
#include "platform/coredll.h"

#include <string.h>
#include <wchar.h>

namespace coredll {

/* Each forwarded row: the desktop's call of the same name, given the same
 * arguments. */
#define COREDLL_WIN32_forwarded(result, name, parameters, arguments) \
    result name parameters { return ::name arguments; }
#define COREDLL_WIN32_bridged(result, name, parameters, arguments)
#define COREDLL_OPERATION(ordinal, name, fails, desktop, bridge, result, parameters, arguments) \
    COREDLL_WIN32_##bridge(result, name, parameters, arguments)
#include "platform/coredll_operations.h"
#undef COREDLL_WIN32_forwarded
#undef COREDLL_WIN32_bridged

static LONG Reported(LONG lResult)
{
    if (lResult != ERROR_SUCCESS)
        ::SetLastError((DWORD)lResult);
    return lResult;
}

LONG RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions,
                     REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                     PHKEY phkResult, LPDWORD lpdwDisposition)
{
    (void)samDesired;
    return Reported(::RegCreateKeyExW(hKey, lpSubKey, Reserved, lpClass, dwOptions,
                                      KEY_READ | KEY_WRITE, lpSecurityAttributes, phkResult,
                                      lpdwDisposition));
}

LONG RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult)
{
    (void)samDesired;
    return Reported(::RegOpenKeyExW(hKey, lpSubKey, ulOptions, KEY_READ, phkResult));
}

LONG RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                   LPWSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime)
{
    return Reported(::RegEnumKeyExW(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass,
                                    lpcchClass, lpftLastWriteTime));
}

LONG RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName,
                   LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    return Reported(::RegEnumValueW(hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType,
                                    lpData, lpcbData));
}

LONG RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType,
                    const BYTE *lpData, DWORD cbData)
{
    return Reported(::RegSetValueExW(hKey, lpValueName, Reserved, dwType, lpData, cbData));
}

/* On the handheld LoadResource gives the bytes; on the desktop they are
 * locked first. */
HGLOBAL LoadResource(HINSTANCE hModule, HRSRC hResInfo)
{
    HGLOBAL hData;

    if (hResInfo == NULL)
        return NULL;
    hData = ::LoadResource(hModule, hResInfo);
    return hData != NULL ? ::LockResource(hData) : NULL;
}

/* A template that could not be loaded fails the dialog, as on the handheld;
 * the desktop is not given a null one. */
INT_PTR DialogBoxIndirectParamW(HINSTANCE hInstance, LPCDLGTEMPLATEW hDialogTemplate,
                                HWND hWndParent, DLGPROC lpDialogFunc, LPARAM dwInitParam)
{
    if (hDialogTemplate == NULL)
        return -1;
    return ::DialogBoxIndirectParamW(hInstance, hDialogTemplate, hWndParent, lpDialogFunc,
                                     dwInitParam);
}

/* A variadic call cannot pass its arguments on: its va_list twin takes them. */
int wsprintfW(LPWSTR lpOut, LPCWSTR lpFmt, ...)
{
    va_list args;
    int n;

    va_start(args, lpFmt);
    n = ::wvsprintfW(lpOut, lpFmt, args);
    va_end(args);
    return n;
}

} // namespace coredll
