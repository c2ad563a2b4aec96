/*
 * The one way the program tells the user anything, failures included.
 */
#include "ui/ui.h"

/* Decimal digits of any int, its sign and the terminator. */
#define NUMBER_CCH 12

/*
 * The handheld's core library has no bounded formatter: wvsprintfW writes
 * as much as the text needs. So the text is composed here, with the bound
 * checked at every character: literal text and %s arguments are copied up
 * to the last place, and wsprintfW formats only a %d, into a buffer that any
 * int fits. %% is a percent sign; any other conversion character stands for
 * itself, as wsprintfW writes an unknown one. Whatever does not fit is cut.
 */
static void ComposeText(LPWSTR lpText, LPCWSTR lpFormat, va_list args)
{
    WCHAR szNumber[NUMBER_CCH];
    LPCWSTR lpPiece;
    size_t cch = 0;

    for (; *lpFormat != 0; lpFormat++) {
        lpPiece = NULL;
        if (*lpFormat == TEXT('%') && lpFormat[1] != 0) {
            lpFormat++;
            if (*lpFormat == TEXT('d')) {
                coredll::wsprintfW(szNumber, TEXT("%d"), va_arg(args, int));
                lpPiece = szNumber;
            } else if (*lpFormat == TEXT('s')) {
                lpPiece = va_arg(args, LPCWSTR);
                if (lpPiece == NULL)
                    lpPiece = TEXT("(null)");
            }
        } else if (*lpFormat == TEXT('%')) {
            break;
        }

        if (lpPiece == NULL) {
            if (cch + 1 < MESSAGE_TEXT_CCH)
                lpText[cch++] = *lpFormat;
            continue;
        }
        for (; *lpPiece != 0 && cch + 1 < MESSAGE_TEXT_CCH; lpPiece++)
            lpText[cch++] = *lpPiece;
    }
    lpText[cch] = 0;
}

void ShowMessage(LPCWSTR lpFormat, ...)
{
    WCHAR szText[MESSAGE_TEXT_CCH];
    va_list args;

    va_start(args, lpFormat);
    ComposeText(szText, lpFormat, args);
    va_end(args);

    coredll::MessageBoxW(NULL, szText, TEXT("@"), MB_OK | MB_SETFOREGROUND);
}
