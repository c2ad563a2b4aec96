/*
 * The one way the program tells the user anything, failures included.
 */
#include "ui.h"

void ShowMessage(LPCWSTR lpFormat, ...)
{
    WCHAR szText[MESSAGE_TEXT_CCH];
    va_list args;

    /* Cuts and terminates a text that would not fit. */
    va_start(args, lpFormat);
    coredll::wvnsprintfW(szText, MESSAGE_TEXT_CCH, lpFormat, args);
    va_end(args);

    coredll::MessageBoxW(NULL, szText, TEXT("@"), MB_OK | MB_SETFOREGROUND);
}
