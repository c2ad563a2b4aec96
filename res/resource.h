/*
 * Names shared by the resource script and the program: the choice dialog's
 * control ids. (The dialog itself is named by its text, QUESTIONDIALOG.)
 */
#ifndef SAMBREL_RES_RESOURCE_H
#define SAMBREL_RES_RESOURCE_H

#define IDC_AUTOSCAN 1002
#define IDC_COM3 1003
#define IDC_STATIC (-1)

#endif
