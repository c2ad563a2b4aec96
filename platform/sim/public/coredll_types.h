/*
 * Win32 types and constants for the simulated handheld.
 *
 * The program is written against the handheld SDK's names; on Linux there is
 * no <windows.h>, so the few names it uses are defined here with the sizes
 * they have on the device: WCHAR is a UTF-16 code unit, handles are opaque
 * pointers, DWORD and LONG are 32 bits wide.
 */
#ifndef SAMBREL_PLATFORM_SIM_COREDLL_TYPES_H
#define SAMBREL_PLATFORM_SIM_COREDLL_TYPES_H

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#define WINAPI
#define CALLBACK

typedef char16_t WCHAR;
typedef WCHAR *LPWSTR;
typedef const WCHAR *LPCWSTR;
typedef std::uint8_t BYTE;
typedef BYTE *LPBYTE;
typedef const BYTE *LPCBYTE;
typedef std::uint16_t WORD;
typedef std::uint32_t DWORD;
typedef DWORD *LPDWORD;
typedef std::int32_t LONG;
typedef unsigned int UINT;
typedef int BOOL;
typedef void *LPVOID;
typedef const void *LPCVOID;
typedef std::uintptr_t UINT_PTR;
typedef std::intptr_t INT_PTR;
typedef std::uintptr_t WPARAM;
typedef std::intptr_t LPARAM;
typedef DWORD REGSAM;

#include "platform/sdk_types.h"

#define HKEY_CLASSES_ROOT ((HKEY)(UINT_PTR)0x80000000u)
#define HKEY_CURRENT_USER ((HKEY)(UINT_PTR)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(UINT_PTR)0x80000002u)
#define HKEY_USERS ((HKEY)(UINT_PTR)0x80000003u)
#define HKEY_CURRENT_CONFIG ((HKEY)(UINT_PTR)0x80000005u)

#define MAKEINTRESOURCEW(i) ((LPWSTR)(UINT_PTR)(WORD)(i))
#define IS_INTRESOURCE(p) ((((UINT_PTR)(p)) >> 16) == 0)
#define RT_DIALOG MAKEINTRESOURCEW(5)
#define LOWORD(l) ((WORD)(((UINT_PTR)(l)) & 0xffff))
#define HIWORD(l) ((WORD)((((UINT_PTR)(l)) >> 16) & 0xffff))

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_OUTOFMEMORY 14L
#define ERROR_WRITE_PROTECT 19L
#define ERROR_GEN_FAILURE 31L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_BAD_PATHNAME 161L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_BADDB 1009L
#define ERROR_BADKEY 1010L
#define ERROR_CANTOPEN 1011L
#define ERROR_CANTREAD 1012L
#define ERROR_CANTWRITE 1013L
#define ERROR_KEY_DELETED 1018L
#define ERROR_CANCELLED 1223L
#define ERROR_RESOURCE_DATA_NOT_FOUND 1812L
#define ERROR_RESOURCE_TYPE_NOT_FOUND 1813L
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814L

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7
#define REG_QWORD 11

#define REG_CREATED_NEW_KEY 1
#define REG_OPENED_EXISTING_KEY 2

#define KEY_READ 0x20019
#define KEY_WRITE 0x20006

#define WM_CLOSE 0x0010
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define BN_CLICKED 0

#define IDOK 1
#define IDCANCEL 2

#define MB_OK 0x00000000u
#define MB_SETFOREGROUND 0x00010000u

#define WS_TABSTOP 0x00010000u
#define DS_SETFONT 0x40u
#define BS_PUSHBUTTON 0x0u
#define BS_DEFPUSHBUTTON 0x1u
#define BS_TYPEMASK 0xFu

#endif
