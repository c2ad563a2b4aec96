/*
 * The handheld SDK's handle types, structures and the TEXT() macro, for the
 * platforms that have no <windows.h>: the simulated handheld and the
 * handheld's own build. Each includes this after defining the integer types
 * (WORD, DWORD, LONG, INT_PTR, ...) at the sizes it has.
 */
#ifndef SAMBREL_PLATFORM_SDK_TYPES_H
#define SAMBREL_PLATFORM_SDK_TYPES_H

#ifndef CALLBACK
#define CALLBACK
#endif

#define TEXT(s) u##s
#define FALSE 0
#define TRUE 1

struct HKEY__;
struct HWND__;
struct HINSTANCE__;
struct HRSRC__;
typedef HKEY__ *HKEY;
typedef HKEY *PHKEY;
typedef HWND__ *HWND;
typedef HINSTANCE__ *HINSTANCE;
typedef HRSRC__ *HRSRC;
typedef void *HGLOBAL;

typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME, *PFILETIME;

typedef struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

/* A dialog template is packed 16-bit words; only its head is typed. */
#pragma pack(push, 2)
typedef struct {
    DWORD style;
    DWORD dwExtendedStyle;
    WORD cdit;
    short x;
    short y;
    short cx;
    short cy;
} DLGTEMPLATE;
#pragma pack(pop)
typedef const DLGTEMPLATE *LPCDLGTEMPLATEW;

typedef INT_PTR(CALLBACK *DLGPROC)(HWND, UINT, WPARAM, LPARAM);

#endif
