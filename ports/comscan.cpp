/*
 * Reads a registry tree two levels deep and marks every port named by a
 * REG_SZ text "COMn..." in its entries.
 */
#include "ports/irmodem.h"
#include "ports/ports.h"
#include "ui/ui.h"

#define SCAN_NAME_CCH 64
#define SCAN_CLASS_CCH 64
#define SCAN_DATA_CB 80
#define SCAN_MAX_SUBKEYS 100
#define SCAN_MAX_VALUES 100

/* Adds the port that a value's text names, if any. Only the digit after
 * "COM" is read: COM1: and COM12: both mean port 1, and the characters ':'
 * to '?' that follow '9' stand for ports 10 to 15. */
static ComPortMask MarkPort(ComPortMask mask, LPCWSTR lpText)
{
    signed char c;
    int d;

    if (coredll::wcsncmp(lpText, TEXT("COM"), 3) != 0)
        return mask;

    c = (signed char)(lpText[3] & 0xFF);
    d = c - 0x30;
    if (d < 0 || d > 15)
        return mask;
    return (ComPortMask)(mask | (1u << d));
}

/* Examines the values of one entry. */
static ComPortMask ScanEntry(ComPortMask mask, HKEY hEntry, BOOL fStopOnFriendlyName)
{
    WCHAR szName[SCAN_NAME_CCH];
    /* One character more than the data can fill, so that the returned text
     * can always be terminated where the data ends. */
    WCHAR szData[SCAN_DATA_CB / sizeof(WCHAR) + 1];
    DWORD cchName, cbData, dwType, j;
    LONG lResult;

    for (j = 0; j < SCAN_MAX_VALUES; j++) {
        cchName = SCAN_NAME_CCH;
        cbData = SCAN_DATA_CB;
        lResult = coredll::RegEnumValueW(hEntry, j, szName, &cchName, NULL, &dwType,
                                         (LPBYTE)szData, &cbData);
        if (lResult != ERROR_SUCCESS)
            break;
        if (dwType != REG_SZ)
            continue;

        /* The text is exactly what was returned: never an earlier value's
         * leftovers, never past the returned size. */
        if (cbData > SCAN_DATA_CB)
            cbData = SCAN_DATA_CB;
        /* An odd size leaves half a character: its low byte is data, and
         * the byte after it is cleared so that it reads as just that. */
        if (cbData % sizeof(WCHAR) != 0) {
            ((LPBYTE)szData)[cbData] = 0;
            cbData += 1;
        }
        szData[cbData / sizeof(WCHAR)] = 0;

        if (fStopOnFriendlyName && coredll::wcscmp(szData, IR_FRIENDLY_NAME) == 0)
            break;
        mask = MarkPort(mask, szData);
    }
    return mask;
}

ComPortMask ScanComUsage(LPCWSTR lpRootPath, BOOL fStopOnFriendlyName)
{
    ComPortMask mask = 0;
    HKEY hRoot, hEntry;
    WCHAR szName[SCAN_NAME_CCH];
    WCHAR szClass[SCAN_CLASS_CCH];
    DWORD cchName, cchClass, i;
    FILETIME ftLastWrite;
    LONG lResult;

    coredll::memset(szClass, 0, sizeof(szClass));

    lResult = coredll::RegOpenKeyExW(HKEY_LOCAL_MACHINE, lpRootPath, 0, 0, &hRoot);
    if (lResult != ERROR_SUCCESS) {
        ShowMessage(TEXT("#RegOpenKeyEx(): %d"), (int)coredll::GetLastError());
        return 0;
    }

    for (i = 0; i < SCAN_MAX_SUBKEYS; i++) {
        cchName = SCAN_NAME_CCH;
        cchClass = SCAN_CLASS_CCH;
        lResult = coredll::RegEnumKeyExW(hRoot, i, szName, &cchName, NULL, szClass, &cchClass,
                                         &ftLastWrite);
        if (lResult != ERROR_SUCCESS)
            break;

        lResult = coredll::RegOpenKeyExW(hRoot, szName, 0, 0, &hEntry);
        if (lResult != ERROR_SUCCESS)
            continue;

        mask = ScanEntry(mask, hEntry, fStopOnFriendlyName);
        coredll::RegCloseKey(hEntry);
    }

    coredll::RegCloseKey(hRoot);
    return mask;
}

ComPortMask ScanActiveDrivers()
{
    return ScanComUsage(TEXT("Drivers\\Active"), FALSE);
}

ComPortMask ScanExtModems()
{
    return ScanComUsage(TEXT("ExtModems"), TRUE);
}
