/*
 * One run: ask how the port is chosen, write the IR modem entry
 * HKEY_LOCAL_MACHINE\ExtModems\IR, and ask for a reset.
 */
#include "app/winmain.h"
#include "ports/irmodem.h"
#include "ports/ports.h"
#include "res/resource.h"
#include "ui/ui.h"

#define PORT_NAME_CCH 8
#define MESSAGE_CCH 256
#define IR_DEVICE_TYPE 1
#define AUTOSCAN_FIRST_PORT 5

/* The entry's three values, written in this order; a failed write is
 * reported and the others are still written. */
static void WriteIrModemValues(HKEY hIr, LPCWSTR lpPortName)
{
    DWORD dwDeviceType = IR_DEVICE_TYPE;
    LONG lResult;

    lResult = coredll::RegSetValueExW(hIr, TEXT("DeviceType"), 0, REG_DWORD,
                                      (const BYTE *)&dwDeviceType, sizeof(dwDeviceType));
    if (lResult != ERROR_SUCCESS)
        ShowMessage(TEXT("#RegSetValueEx(Type) FAILED"));

    lResult = coredll::RegSetValueExW(hIr, TEXT("Port"), 0, REG_SZ, (const BYTE *)lpPortName,
                                      (DWORD)((coredll::wcslen(lpPortName) + 1) * sizeof(WCHAR)));
    if (lResult != ERROR_SUCCESS)
        ShowMessage(TEXT("#RegSetValueEx(Port) FAILED"));

    lResult = coredll::RegSetValueExW(hIr, TEXT("FriendlyName"), 0, REG_SZ,
                                      (const BYTE *)IR_FRIENDLY_NAME, sizeof(IR_FRIENDLY_NAME));
    if (lResult != ERROR_SUCCESS)
        ShowMessage(TEXT("#RegSetValueEx(FriendlyName) FAILED"));
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR lpCmdLine, int nShowCmd)
{
    WCHAR szMessage[MESSAGE_CCH];
    WCHAR szPortName[PORT_NAME_CCH];
    HKEY hExtModems, hIr;
    DWORD dwDisposition;
    INT_PTR nChoice;
    int nPort;
    LONG lResult;

    (void)hPrevInstance;
    (void)lpCmdLine;
    (void)nShowCmd;

    /* The zeroed text doubles as the empty class string of both keys. */
    coredll::memset(szMessage, 0, sizeof(szMessage));

    nChoice = ShowQuestionDialog(hInstance);
    if (nChoice != IDC_AUTOSCAN && nChoice != IDC_COM3)
        return 1;

    lResult = coredll::RegCreateKeyExW(HKEY_LOCAL_MACHINE, TEXT("ExtModems"), 0, szMessage, 0, 0,
                                       NULL, &hExtModems, &dwDisposition);
    if (lResult != ERROR_SUCCESS) {
        ShowMessage(TEXT("#RegCreateKeyEx(HKLM/ExtModems) FAILED"));
        return 0;
    }

    lResult = coredll::RegCreateKeyExW(hExtModems, TEXT("IR"), 0, szMessage, 0, 0, NULL, &hIr,
                                       &dwDisposition);
    if (lResult != ERROR_SUCCESS) {
        ShowMessage(TEXT("#RegCreateKeyEx(/IR) FAILED"));
        coredll::RegCloseKey(hExtModems);
        return 0;
    }

    /* COM3: is taken as asked, even when something else uses it. */
    if (nChoice == IDC_AUTOSCAN) {
        nPort = FindFreeComPort(AUTOSCAN_FIRST_PORT);
        if (nPort == -1) {
            ShowMessage(TEXT("#ERROR: No free COM ports!"));
            coredll::RegCloseKey(hIr);
            coredll::RegCloseKey(hExtModems);
            return 0;
        }
    } else {
        nPort = 3;
    }

    coredll::wsprintfW(szPortName, TEXT("COM%d:"), nPort);
    WriteIrModemValues(hIr, szPortName);

    coredll::RegCloseKey(hIr);
    coredll::RegCloseKey(hExtModems);

    /* The composed text holds no '%', so it can serve as the format. */
    coredll::wsprintfW(szMessage,
                       TEXT("Infrared port is now %s.  Please, reset (boot) your handheld PC next."),
                       szPortName);
    ShowMessage(szMessage);
    return 1;
}
