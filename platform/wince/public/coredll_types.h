/*
 * Win32 types and constants for Windows CE on ARM, as the handheld SDK
 * gives them: WCHAR is a UTF-16 code unit, pointers, handles, DWORD and LONG
 * are 32 bits wide. Only the names the program and this layer use.
 */
#ifndef SAMBREL_PLATFORM_WINCE_COREDLL_TYPES_H
#define SAMBREL_PLATFORM_WINCE_COREDLL_TYPES_H

#include <stdarg.h>
#include <stddef.h>

#define WINAPI
#define CALLBACK

typedef char16_t WCHAR;
typedef WCHAR *LPWSTR;
typedef const WCHAR *LPCWSTR;
typedef unsigned char BYTE;
typedef BYTE *LPBYTE;
typedef unsigned short WORD;
typedef unsigned long DWORD;
typedef DWORD *LPDWORD;
typedef long LONG;
typedef unsigned int UINT;
typedef int BOOL;
typedef void *LPVOID;
typedef unsigned int UINT_PTR;
typedef int INT_PTR;
typedef UINT_PTR WPARAM;
typedef long LPARAM;
typedef DWORD REGSAM;

#include "platform/sdk_types.h"

#define HKEY_CURRENT_USER ((HKEY)(UINT_PTR)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(UINT_PTR)0x80000002u)

#define MAKEINTRESOURCEW(i) ((LPWSTR)(UINT_PTR)(WORD)(i))
#define RT_DIALOG MAKEINTRESOURCEW(5)
#define LOWORD(l) ((WORD)(((UINT_PTR)(l)) & 0xffff))

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_BAD_PATHNAME 161L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L

#define REG_SZ 1
#define REG_DWORD 4

#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111

#define IDOK 1
#define IDCANCEL 2

#define MB_OK 0x00000000u
#define MB_SETFOREGROUND 0x00010000u

#endif
