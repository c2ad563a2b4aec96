/*
 * The core library on the handheld: each operation goes to COREDLL.dll by
 * its ordinal. An import is an undefined symbol named coredll_ordinal_N;
 * the image converter turns it into an import by ordinal and a jump through
 * the import table. Nothing else may stay undefined.
 */
#include "platform/coredll.h"

#define COREDLL(ordinal) __asm__("coredll_ordinal_" #ordinal)

extern "C" {
LONG CeRegCloseKey(HKEY) COREDLL(455);
LONG CeRegCreateKeyExW(HKEY, LPCWSTR, DWORD, LPWSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES, PHKEY,
                       LPDWORD) COREDLL(456);
LONG CeRegEnumValueW(HKEY, DWORD, LPWSTR, LPDWORD, LPDWORD, LPDWORD, LPBYTE, LPDWORD) COREDLL(459);
LONG CeRegEnumKeyExW(HKEY, DWORD, LPWSTR, LPDWORD, LPDWORD, LPWSTR, LPDWORD, PFILETIME)
    COREDLL(460);
LONG CeRegOpenKeyExW(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY) COREDLL(461);
LONG CeRegSetValueExW(HKEY, LPCWSTR, DWORD, DWORD, const BYTE *, DWORD) COREDLL(464);
DWORD CeGetLastError() COREDLL(516);
HRSRC CeFindResourceW(HINSTANCE, LPCWSTR, LPCWSTR) COREDLL(532);
HGLOBAL CeLoadResource(HINSTANCE, HRSRC) COREDLL(533);
INT_PTR CeDialogBoxIndirectParamW(HINSTANCE, LPCDLGTEMPLATEW, HWND, DLGPROC, LPARAM) COREDLL(690);
BOOL CeEndDialog(HWND, INT_PTR) COREDLL(691);
BOOL CeSetForegroundWindow(HWND) COREDLL(702);
int CeMessageBoxW(HWND, LPCWSTR, LPCWSTR, UINT) COREDLL(858);
int CeWvsprintfW(LPWSTR, LPCWSTR, va_list) COREDLL(57);
size_t CeWcslen(LPCWSTR) COREDLL(63);
int CeWcscmp(LPCWSTR, LPCWSTR) COREDLL(60);
int CeWcsncmp(LPCWSTR, LPCWSTR, size_t) COREDLL(65);
void *CeMemset(void *, int, size_t) COREDLL(1047);
}

namespace coredll {

LONG RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions,
                     REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                     PHKEY phkResult, LPDWORD lpdwDisposition)
{
    return CeRegCreateKeyExW(hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired,
                             lpSecurityAttributes, phkResult, lpdwDisposition);
}

LONG RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult)
{
    return CeRegOpenKeyExW(hKey, lpSubKey, ulOptions, samDesired, phkResult);
}

LONG RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                   LPWSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime)
{
    return CeRegEnumKeyExW(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass,
                           lpftLastWriteTime);
}

LONG RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName,
                   LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    return CeRegEnumValueW(hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType, lpData,
                           lpcbData);
}

LONG RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType,
                    const BYTE *lpData, DWORD cbData)
{
    return CeRegSetValueExW(hKey, lpValueName, Reserved, dwType, lpData, cbData);
}

LONG RegCloseKey(HKEY hKey) { return CeRegCloseKey(hKey); }

DWORD GetLastError() { return CeGetLastError(); }

HRSRC FindResourceW(HINSTANCE hModule, LPCWSTR lpName, LPCWSTR lpType)
{
    return CeFindResourceW(hModule, lpName, lpType);
}

HGLOBAL LoadResource(HINSTANCE hModule, HRSRC hResInfo) { return CeLoadResource(hModule, hResInfo); }

INT_PTR DialogBoxIndirectParamW(HINSTANCE hInstance, LPCDLGTEMPLATEW hDialogTemplate,
                                HWND hWndParent, DLGPROC lpDialogFunc, LPARAM dwInitParam)
{
    return CeDialogBoxIndirectParamW(hInstance, hDialogTemplate, hWndParent, lpDialogFunc,
                                     dwInitParam);
}

BOOL EndDialog(HWND hDlg, INT_PTR nResult) { return CeEndDialog(hDlg, nResult); }

BOOL SetForegroundWindow(HWND hWnd) { return CeSetForegroundWindow(hWnd); }

int MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType)
{
    return CeMessageBoxW(hWnd, lpText, lpCaption, uType);
}

/* A variadic call cannot be forwarded as it stands; the handheld's
 * va_list is a plain pointer to the arguments, as this compiler's is. */
int wsprintfW(LPWSTR lpOut, LPCWSTR lpFmt, ...)
{
    va_list args;
    int n;

    va_start(args, lpFmt);
    n = CeWvsprintfW(lpOut, lpFmt, args);
    va_end(args);
    return n;
}

int wvsprintfW(LPWSTR lpOut, LPCWSTR lpFmt, va_list arglist)
{
    return CeWvsprintfW(lpOut, lpFmt, arglist);
}

size_t wcslen(LPCWSTR s) { return CeWcslen(s); }

int wcscmp(LPCWSTR a, LPCWSTR b) { return CeWcscmp(a, b); }

int wcsncmp(LPCWSTR a, LPCWSTR b, size_t n) { return CeWcsncmp(a, b, n); }

void *memset(void *dest, int c, size_t count) { return CeMemset(dest, c, count); }

} // namespace coredll
