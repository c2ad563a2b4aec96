/*
 * What the user sees: the choice dialog and the message box.
 */
#ifndef SAMBREL_UI_UI_H
#define SAMBREL_UI_UI_H

#include "platform/coredll.h"

/* Shows QUESTIONDIALOG modally and returns the id it ended with (IDOK,
 * IDCANCEL, IDC_AUTOSCAN or IDC_COM3), or the platform's failure value when
 * the dialog could not be shown. */
INT_PTR ShowQuestionDialog(HINSTANCE hInstance);

INT_PTR CALLBACK QuestionDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);

/* Formats %d, %s (a null one as "(null)") and %% into a 128-character text,
 * any other character after % standing for itself (longer texts are cut at
 * 127), and shows it in a message box captioned "@". */
void ShowMessage(LPCWSTR lpFormat, ...);

#define MESSAGE_TEXT_CCH 128

#endif
