// The user, played by a program: starts sambrel.exe, checks the choice
// dialog as Windows shows it, answers it, then reads and dismisses every
// message box in turn. It prints what it saw, one line each:
//   dialog: ok            (or "dialog: MISMATCH ..." lines)
//   message: CAPTION|TEXT
//   exit: CODE
// Usage: robot.exe autoscan|com3|cancel|enter|escape|close PATH\sambrel.exe
#ifndef UNICODE
#define UNICODE
#endif
#include <windows.h>

#include "tests/dialog_controls.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const DWORD kWaitMs = 30000;
std::wstring Wide(const char *ascii)
{
    return std::wstring(ascii, ascii + std::strlen(ascii));
}

std::string Utf8(const std::wstring &w)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n > 0 ? n - 1 : 0), '\0');
    if (n > 1)
        WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, &s[0], n, nullptr, nullptr);
    return s;
}

std::wstring Text(HWND w)
{
    wchar_t buf[1024];
    int n = GetWindowTextW(w, buf, 1024);
    return std::wstring(buf, static_cast<size_t>(n > 0 ? n : 0));
}

std::wstring ClassOf(HWND w)
{
    wchar_t buf[256];
    int n = GetClassNameW(w, buf, 256);
    return std::wstring(buf, static_cast<size_t>(n > 0 ? n : 0));
}

struct Search {
    DWORD pid;
    HWND exclude;
    HWND found;
};

BOOL CALLBACK FindDialogOf(HWND w, LPARAM lp)
{
    auto *s = reinterpret_cast<Search *>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid == s->pid && w != s->exclude && IsWindowVisible(w) && ClassOf(w) == L"#32770") {
        s->found = w;
        return FALSE;
    }
    return TRUE;
}

// The next visible dialog of the process, or null once the process ends.
HWND WaitForDialog(HANDLE process, DWORD pid, HWND exclude)
{
    for (DWORD waited = 0; waited < kWaitMs; waited += 50) {
        Search s{pid, exclude, nullptr};
        EnumWindows(FindDialogOf, reinterpret_cast<LPARAM>(&s));
        if (s.found)
            return s.found;
        if (WaitForSingleObject(process, 50) == WAIT_OBJECT_0)
            return nullptr;
    }
    return nullptr;
}

int CheckDialog(HWND dlg)
{
    int mismatches = 0;
    auto mismatch = [&](const std::string &what) {
        std::printf("dialog: MISMATCH %s\n", what.c_str());
        ++mismatches;
    };
    if (Text(dlg) != L"Sambrel v1.0")
        mismatch("caption '" + Utf8(Text(dlg)) + "'");
    HWND child = GetWindow(dlg, GW_CHILD);
    for (const ExpectedControl &control : kExpectedControls) {
        struct {
            std::wstring className;
            int id;
            std::wstring text;
            DWORD style;
        } c = {Wide(control.className), control.id & 0xFFFF, Wide(control.text), static_cast<DWORD>(control.style)};
        if (!child) {
            mismatch("control " + std::to_string(c.id) + " is missing");
            break;
        }
        int id = GetDlgCtrlID(child) & 0xFFFF;
        DWORD style = static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE));
        if (_wcsicmp(ClassOf(child).c_str(), c.className.c_str()) != 0)
            mismatch("control " + std::to_string(c.id) + " class " + Utf8(ClassOf(child)));
        if (id != c.id)
            mismatch("control id " + std::to_string(id) + ", expected " + std::to_string(c.id));
        if (Text(child) != c.text)
            mismatch("control " + std::to_string(c.id) + " text '" + Utf8(Text(child)) + "'");
        if (style != c.style) {
            char buf[64];
            std::snprintf(buf, sizeof buf, " style %08lx, expected %08lx", static_cast<unsigned long>(style),
                          static_cast<unsigned long>(c.style));
            mismatch("control " + std::to_string(c.id) + buf);
        }
        child = GetWindow(child, GW_HWNDNEXT);
    }
    if (child)
        mismatch("more controls than four");
    LRESULT def = SendMessageW(dlg, DM_GETDEFID, 0, 0);
    if (HIWORD(def) != DC_HASDEFID || LOWORD(def) != IDC_COM3)
        mismatch("default id " + std::to_string(LOWORD(def)));
    if (!mismatches)
        std::printf("dialog: ok\n");
    return mismatches;
}

void PressKey(HWND dlg, DWORD tid, WPARAM key)
{
    GUITHREADINFO info = {sizeof info};
    HWND target = GetGUIThreadInfo(tid, &info) && info.hwndFocus ? info.hwndFocus : dlg;
    PostMessageW(target, WM_KEYDOWN, key, 1);
    PostMessageW(target, WM_KEYUP, key, 0xC0000001);
}

bool Answer(const std::string &action, HWND dlg, DWORD tid)
{
    if (action == "autoscan" || action == "com3" || action == "cancel") {
        int id = action == "autoscan" ? IDC_AUTOSCAN : action == "com3" ? IDC_COM3 : IDCANCEL;
        PostMessageW(GetDlgItem(dlg, id), BM_CLICK, 0, 0);
    } else if (action == "enter") {
        PressKey(dlg, tid, VK_RETURN);
    } else if (action == "escape") {
        PressKey(dlg, tid, VK_ESCAPE);
    } else if (action == "close") {
        PostMessageW(dlg, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else {
        return false;
    }
    return true;
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc != 3) {
        std::fprintf(stderr, "usage: robot ACTION PROGRAM\n");
        return 2;
    }
    std::string action = Utf8(argv[1]);
    std::wstring commandLine = L"\"" + std::wstring(argv[2]) + L"\"";
    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi;
    if (!CreateProcessW(argv[2], &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        std::printf("robot: cannot start the program: error %lu\n", GetLastError());
        return 2;
    }

    HWND dlg = WaitForDialog(pi.hProcess, pi.dwProcessId, nullptr);
    if (!dlg) {
        std::printf("robot: the dialog did not appear\n");
    } else {
        CheckDialog(dlg);
        if (!Answer(action, dlg, pi.dwThreadId)) {
            std::fprintf(stderr, "robot: unknown action %s\n", action.c_str());
            TerminateProcess(pi.hProcess, 3);
            return 2;
        }
        // Every message box in turn, once the dialog has gone.
        HWND previous = dlg;
        while (IsWindow(previous) && WaitForSingleObject(pi.hProcess, 50) == WAIT_TIMEOUT) {
        }
        for (;;) {
            HWND box = WaitForDialog(pi.hProcess, pi.dwProcessId, nullptr);
            if (!box)
                break;
            wchar_t text[1024] = L"";
            GetDlgItemTextW(box, 0xFFFF, text, 1024);
            std::printf("message: %s|%s\n", Utf8(Text(box)).c_str(), Utf8(text).c_str());
            PostMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
            for (DWORD waited = 0; IsWindow(box) && waited < kWaitMs; waited += 20)
                Sleep(20);
        }
    }
    if (WaitForSingleObject(pi.hProcess, kWaitMs) != WAIT_OBJECT_0) {
        std::printf("robot: the program did not end\n");
        TerminateProcess(pi.hProcess, 3);
        return 1;
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    std::printf("exit: %lu\n", code);
    return 0;
}
