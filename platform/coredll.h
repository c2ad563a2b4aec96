/*
 * The core library's operations, as the program calls them.
 *
 * Everything the program asks of the operating system passes through this
 * header: the registry, the program's resources, modal dialogs, the message
 * box and the wide-text routines. Each platform supplies coredll_types.h
 * (the Win32 type names) and one implementation of these functions; the build
 * picks the pair.
 */
#ifndef SAMBREL_PLATFORM_COREDLL_H
#define SAMBREL_PLATFORM_COREDLL_H

#include "coredll_types.h"

namespace coredll {

/* Registry. Results are ERROR_SUCCESS or a platform error code; a failing
 * call also leaves its result as the thread's last-error code. */
LONG RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass,
                     DWORD dwOptions, REGSAM samDesired,
                     LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                     LPDWORD lpdwDisposition);
LONG RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                   PHKEY phkResult);
LONG RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName,
                   LPDWORD lpReserved, LPWSTR lpClass, LPDWORD lpcchClass,
                   PFILETIME lpftLastWriteTime);
LONG RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName,
                   LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
LONG RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType,
                    const BYTE *lpData, DWORD cbData);
LONG RegCloseKey(HKEY hKey);
DWORD GetLastError();

/* The program's own resources. On the handheld LoadResource yields the
 * resource's bytes directly. */
HRSRC FindResourceW(HINSTANCE hModule, LPCWSTR lpName, LPCWSTR lpType);
HGLOBAL LoadResource(HINSTANCE hModule, HRSRC hResInfo);

/* Modal dialogs and message boxes. */
INT_PTR DialogBoxIndirectParamW(HINSTANCE hInstance, LPCDLGTEMPLATEW hDialogTemplate,
                                HWND hWndParent, DLGPROC lpDialogFunc, LPARAM dwInitParam);
BOOL EndDialog(HWND hDlg, INT_PTR nResult);
BOOL SetForegroundWindow(HWND hWnd);
int MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType);

/* Wide text. wsprintfW and wvsprintfW know %d, %u, %x, %c, %s and %%; they
 * take no capacity and write what the text needs (Win32 stops at 1024
 * characters with the terminator). The handheld has no bounded formatter. */
int wsprintfW(LPWSTR lpOut, LPCWSTR lpFmt, ...);
int wvsprintfW(LPWSTR lpOut, LPCWSTR lpFmt, va_list arglist);
size_t wcslen(LPCWSTR s);
int wcscmp(LPCWSTR a, LPCWSTR b);
int wcsncmp(LPCWSTR a, LPCWSTR b, size_t n);
void *memset(void *dest, int c, size_t count);

} // namespace coredll

#endif
