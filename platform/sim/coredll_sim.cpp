// The core library on the simulated handheld: each call but the string
// routines goes to the handheld attached to the calling thread, after the
// injected faults have had their say.
#include "platform/coredll.h"

#include "platform/sim/public/format.h"
#include "platform/sim/public/handheld.h"
#include "text/codecs.h"

#include <string>

namespace coredll {
namespace {

using sim::Handheld;
using sim::Operation;

std::u16string_view Text(LPCWSTR s)
{
    return s ? std::u16string_view(s) : std::u16string_view();
}

LONG Result(Handheld &h, LONG result)
{
    if (result != ERROR_SUCCESS)
        h.SetLastError(static_cast<DWORD>(result));
    return result;
}

// The injected failure of this call, if any. The item it is matched
// against is looked up only when there are faults to match.
template <typename Item>
const sim::Fault *Injected(Handheld &h, Operation operation, Item item)
{
    if (h.faults().Empty())
        return nullptr;
    return h.faults().Find(operation, item());
}

// An injected failure: its result, and its last error (the result's own
// code unless the fault gives another).
template <typename T>
T Failed(Handheld &h, const sim::Fault &fault, T result)
{
    h.SetLastError(fault.lastError.value_or(static_cast<DWORD>(fault.error)));
    return result;
}

// A call the handheld's model answers, unless a fault is injected (then it
// gives failed): the model's failure code, if any, becomes the last error.
template <typename T, typename Item, typename Call>
T Modelled(Operation operation, Item item, T failed, Call call)
{
    Handheld &h = Handheld::Current();
    if (auto f = Injected(h, operation, item))
        return Failed(h, *f, failed);
    DWORD error = 0;
    T result = call(h, error);
    if (error)
        h.SetLastError(error);
    return result;
}

// The item of a call that names none.
std::u16string_view NoItem() { return {}; }

std::string Name(Handheld &h, HKEY key)
{
    std::u16string_view name = h.registry().NameOf(key);
    return name.empty() ? "(bad handle)" : text::Utf8(name);
}

std::string Number(unsigned long long n) { return std::to_string(n); }

} // namespace

LONG RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions,
                     REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                     PHKEY phkResult, LPDWORD lpdwDisposition)
{
    Handheld &h = Handheld::Current();
    h.Record("RegCreateKeyExW " + Name(h, hKey) + "\\" + text::Utf8(Text(lpSubKey)) + " class=" +
             (lpClass ? "\"" + text::Utf8(lpClass) + "\"" : std::string("null")) + " options=" + Number(dwOptions) +
             " sam=" + Number(samDesired) + " sa=" + (lpSecurityAttributes ? "set" : "null"));
    if (auto e = Injected(h, Operation::RegCreateKeyExW, [&] { return Text(lpSubKey); }))
        return Failed(h, *e, e->error);
    return Result(h, h.registry().CreateKeyEx(hKey, lpSubKey, Reserved, lpClass, phkResult,
                                              lpdwDisposition));
}

LONG RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult)
{
    Handheld &h = Handheld::Current();
    h.Record("RegOpenKeyExW " + Name(h, hKey) + "\\" + text::Utf8(Text(lpSubKey)) + " options=" +
             Number(ulOptions) + " sam=" + Number(samDesired));
    if (auto e = Injected(h, Operation::RegOpenKeyExW, [&] { return Text(lpSubKey); }))
        return Failed(h, *e, e->error);
    return Result(h, h.registry().OpenKeyEx(hKey, lpSubKey, ulOptions, phkResult));
}

LONG RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                   LPWSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime)
{
    Handheld &h = Handheld::Current();
    if (auto e = Injected(h, Operation::RegEnumKeyExW, [&] { return h.registry().NameOf(hKey); }))
        return Failed(h, *e, e->error);
    return Result(h, h.registry().EnumKeyEx(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass,
                                            lpcchClass, lpftLastWriteTime));
}

LONG RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName,
                   LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    Handheld &h = Handheld::Current();
    if (auto e = Injected(h, Operation::RegEnumValueW, [&] { return h.registry().NameOf(hKey); }))
        return Failed(h, *e, e->error);
    return Result(h, h.registry().EnumValue(hKey, dwIndex, lpValueName, lpcchValueName, lpReserved,
                                            lpType, lpData, lpcbData));
}

LONG RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType,
                    const BYTE *lpData, DWORD cbData)
{
    Handheld &h = Handheld::Current();
    h.Record("RegSetValueExW " + Name(h, hKey) + "\\" + text::Utf8(Text(lpValueName)) + " type=" +
             Number(dwType) + " size=" + Number(cbData));
    if (auto e = Injected(h, Operation::RegSetValueExW, [&] { return Text(lpValueName); }))
        return Failed(h, *e, e->error);
    return Result(h, h.registry().SetValueEx(hKey, lpValueName, Reserved, dwType, lpData, cbData));
}

LONG RegCloseKey(HKEY hKey)
{
    Handheld &h = Handheld::Current();
    h.Record("RegCloseKey " + Name(h, hKey));
    if (auto e = Injected(h, Operation::RegCloseKey, [&] { return h.registry().NameOf(hKey); }))
        return Failed(h, *e, e->error);
    return Result(h, h.registry().CloseKey(hKey));
}

DWORD GetLastError() { return Handheld::Current().LastError(); }

HRSRC FindResourceW(HINSTANCE hModule, LPCWSTR lpName, LPCWSTR lpType)
{
    auto name = [&] { return lpName && !IS_INTRESOURCE(lpName) ? Text(lpName) : std::u16string_view(); };
    return Modelled(Operation::FindResourceW, name, HRSRC{}, [&](Handheld &h, DWORD &error) {
        return h.FindResource(hModule, lpName, lpType, error);
    });
}

HGLOBAL LoadResource(HINSTANCE hModule, HRSRC hResInfo)
{
    return Modelled(Operation::LoadResource, NoItem, HGLOBAL{}, [&](Handheld &h, DWORD &error) {
        return h.LoadResource(hModule, hResInfo, error);
    });
}

INT_PTR DialogBoxIndirectParamW(HINSTANCE hInstance, LPCDLGTEMPLATEW hDialogTemplate,
                                HWND hWndParent, DLGPROC lpDialogFunc, LPARAM dwInitParam)
{
    (void)hInstance;
    (void)hWndParent;
    return Modelled(Operation::DialogBoxIndirectParamW, NoItem, INT_PTR{-1}, [&](Handheld &h, DWORD &error) {
        return h.DialogBox(hDialogTemplate, lpDialogFunc, dwInitParam, error);
    });
}

BOOL EndDialog(HWND hDlg, INT_PTR nResult)
{
    return Modelled(Operation::EndDialog, NoItem, BOOL{FALSE}, [&](Handheld &h, DWORD &error) {
        return h.EndDialog(hDlg, nResult, error);
    });
}

BOOL SetForegroundWindow(HWND hWnd)
{
    return Modelled(Operation::SetForegroundWindow, NoItem, BOOL{FALSE},
                    [&](Handheld &h, DWORD &) { return h.SetForegroundWindow(hWnd); });
}

int MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType)
{
    (void)hWnd;
    return Modelled(Operation::MessageBoxW, NoItem, 0,
                    [&](Handheld &h, DWORD &) { return h.MessageBox(lpText, lpCaption, uType); });
}

int wsprintfW(LPWSTR lpOut, LPCWSTR lpFmt, ...)
{
    va_list args;
    va_start(args, lpFmt);
    int n = wvsprintfW(lpOut, lpFmt, args);
    va_end(args);
    return n;
}

int wvsprintfW(LPWSTR lpOut, LPCWSTR lpFmt, va_list arglist)
{
    sim::VaListArgs args(arglist);
    return sim::WsprintfW(lpOut, lpFmt, args);
}

size_t wcslen(LPCWSTR s)
{
    size_t n = 0;
    while (s[n])
        ++n;
    return n;
}

int wcscmp(LPCWSTR a, LPCWSTR b)
{
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b ? 0 : (*a < *b ? -1 : 1);
}

int wcsncmp(LPCWSTR a, LPCWSTR b, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        if (a[i] != b[i])
            return a[i] < b[i] ? -1 : 1;
        if (!a[i])
            return 0;
    }
    return 0;
}

void *memset(void *dest, int c, size_t count)
{
    auto p = static_cast<BYTE *>(dest);
    for (size_t i = 0; i < count; ++i)
        p[i] = static_cast<BYTE>(c);
    return dest;
}

} // namespace coredll
