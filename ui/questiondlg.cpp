/*
 * The choice dialog that opens every run.
 */
#include "ui/ui.h"
#include "res/resource.h"

INT_PTR CALLBACK QuestionDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;

    switch (uMsg) {
    case WM_INITDIALOG:
        /* Setup programs are started from the shell; make sure the question
         * is not left behind another window. */
        coredll::SetForegroundWindow(hDlg);
        return FALSE;

    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL:
        case IDC_AUTOSCAN:
        case IDC_COM3:
            coredll::EndDialog(hDlg, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

INT_PTR ShowQuestionDialog(HINSTANCE hInstance)
{
    HRSRC hRes;
    LPCDLGTEMPLATEW pTemplate;

    /* A missing template surfaces as a dialog that fails to appear. */
    hRes = coredll::FindResourceW(hInstance, TEXT("QUESTIONDIALOG"), RT_DIALOG);
    pTemplate = (LPCDLGTEMPLATEW)coredll::LoadResource(hInstance, hRes);
    return coredll::DialogBoxIndirectParamW(hInstance, pTemplate, NULL, QuestionDlgProc, 0);
}
