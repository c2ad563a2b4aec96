/*
 * The core library's operations: the one table of them. Each row gives
 *
 *   COREDLL_OPERATION(ordinal, name, fails, desktop, bridge, result, parameters, arguments)
 *
 * - ordinal: its export ordinal in the handheld's COREDLL.dll, which the
 *   handheld's build imports it by and the emulator serves it at;
 * - name: the operation, as coredll.h declares it in namespace coredll;
 * - fails: failable if --fail may make it fail on the simulated handheld,
 *   else infallible;
 * - desktop: the desktop library sambrel.exe imports it from (.dll left out);
 * - bridge: forwarded if the desktop's forwarder only passes its arguments
 *   on to the call of the same name, and is made from this row; bridged if
 *   it is written by hand (platform/win32/coredll_win32.cpp) to bridge a
 *   difference between the desktop and the handheld;
 * - result, parameters: its C signature;
 * - arguments: the parameters' names, as a forwarder passes them on.
 *
 * An operation whose arguments cannot be passed on (a variadic one) is a
 * COREDLL_VARIADIC row, the same otherwise; a reader that does not tell
 * them apart defines COREDLL_OPERATION alone.
 *
 * A reader defines the macros, includes this file, and has them undefined
 * again. The converter (platform/wince/elf2ce.py) and the shell tests
 * (tests/lib.sh) read the rows with a pattern: each row begins a line, which
 * holds its first four fields. They refuse a row they cannot read, and a
 * table of other than COREDLL_OPERATIONS_COUNT rows; the build refuses a
 * table whose rows are not that many, or where two share an ordinal or a
 * name (platform/coredll.h).
 */
#ifndef COREDLL_OPERATIONS_COUNT
#define COREDLL_OPERATIONS_COUNT 19
#endif
#ifndef COREDLL_VARIADIC
#define COREDLL_VARIADIC COREDLL_OPERATION
#endif

/* Registry. Results are ERROR_SUCCESS or a platform error code; a failing
 * call also leaves its result as the thread's last-error code. The desktop's
 * registry calls leave no last error, and refuse writes on a key opened with
 * no access, where the handheld ignores access masks: those that set the
 * last error or take a mask are bridged. */
COREDLL_OPERATION(456, RegCreateKeyExW, failable, ADVAPI32, bridged, LONG,
                  (HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions,
                   REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                   LPDWORD lpdwDisposition),
                  (hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired, lpSecurityAttributes,
                   phkResult, lpdwDisposition))
COREDLL_OPERATION(461, RegOpenKeyExW, failable, ADVAPI32, bridged, LONG,
                  (HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult),
                  (hKey, lpSubKey, ulOptions, samDesired, phkResult))
COREDLL_OPERATION(460, RegEnumKeyExW, failable, ADVAPI32, bridged, LONG,
                  (HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                   LPWSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime),
                  (hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass,
                   lpftLastWriteTime))
COREDLL_OPERATION(459, RegEnumValueW, failable, ADVAPI32, bridged, LONG,
                  (HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName,
                   LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData),
                  (hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType, lpData, lpcbData))
COREDLL_OPERATION(464, RegSetValueExW, failable, ADVAPI32, bridged, LONG,
                  (HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE *lpData,
                   DWORD cbData),
                  (hKey, lpValueName, Reserved, dwType, lpData, cbData))
COREDLL_OPERATION(455, RegCloseKey, failable, ADVAPI32, forwarded, LONG, (HKEY hKey), (hKey))
COREDLL_OPERATION(516, GetLastError, infallible, KERNEL32, forwarded, DWORD, (), ())

/* The program's own resources. On the handheld LoadResource yields the
 * resource's bytes directly; on the desktop they are locked first. */
COREDLL_OPERATION(532, FindResourceW, failable, KERNEL32, forwarded, HRSRC,
                  (HINSTANCE hModule, LPCWSTR lpName, LPCWSTR lpType), (hModule, lpName, lpType))
COREDLL_OPERATION(533, LoadResource, failable, KERNEL32, bridged, HGLOBAL,
                  (HINSTANCE hModule, HRSRC hResInfo), (hModule, hResInfo))

/* Modal dialogs and message boxes. A dialog without a template fails on the
 * handheld; the desktop is not asked to show one. */
COREDLL_OPERATION(690, DialogBoxIndirectParamW, failable, USER32, bridged, INT_PTR,
                  (HINSTANCE hInstance, LPCDLGTEMPLATEW hDialogTemplate, HWND hWndParent,
                   DLGPROC lpDialogFunc, LPARAM dwInitParam),
                  (hInstance, hDialogTemplate, hWndParent, lpDialogFunc, dwInitParam))
COREDLL_OPERATION(691, EndDialog, failable, USER32, forwarded, BOOL, (HWND hDlg, INT_PTR nResult),
                  (hDlg, nResult))
COREDLL_OPERATION(702, SetForegroundWindow, failable, USER32, forwarded, BOOL, (HWND hWnd), (hWnd))
COREDLL_OPERATION(858, MessageBoxW, failable, USER32, forwarded, int,
                  (HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType),
                  (hWnd, lpText, lpCaption, uType))

/* Wide text. wsprintfW and wvsprintfW know %d, %u, %x, %c, %s and %%; they
 * take no capacity and write what the text needs (Win32 stops at 1024
 * characters with the terminator). The handheld has no bounded formatter.
 * A variadic call cannot pass its arguments on: it goes to its va_list
 * twin. */
COREDLL_VARIADIC(56, wsprintfW, infallible, USER32, bridged, int, (LPWSTR lpOut, LPCWSTR lpFmt, ...),
                 (lpOut, lpFmt))
COREDLL_OPERATION(57, wvsprintfW, infallible, USER32, forwarded, int,
                  (LPWSTR lpOut, LPCWSTR lpFmt, va_list arglist), (lpOut, lpFmt, arglist))
COREDLL_OPERATION(63, wcslen, infallible, msvcrt, forwarded, size_t, (LPCWSTR s), (s))
COREDLL_OPERATION(60, wcscmp, infallible, msvcrt, forwarded, int, (LPCWSTR a, LPCWSTR b), (a, b))
COREDLL_OPERATION(65, wcsncmp, infallible, msvcrt, forwarded, int, (LPCWSTR a, LPCWSTR b, size_t n),
                  (a, b, n))
COREDLL_OPERATION(1047, memset, infallible, msvcrt, forwarded, void *, (void *dest, int c, size_t count),
                  (dest, c, count))

#undef COREDLL_OPERATION
#undef COREDLL_VARIADIC
