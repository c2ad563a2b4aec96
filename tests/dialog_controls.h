// The choice dialog's controls as its template must lay them out, in order:
// plain data that the dialog test (on the simulated handheld) and the Wine
// robot (on the real API) both check against. Include it after the
// platform's own header, which defines IDCANCEL.
#ifndef SAMBREL_TESTS_DIALOG_CONTROLS_H
#define SAMBREL_TESTS_DIALOG_CONTROLS_H

#include "res/resource.h"

struct ExpectedControl {
    const char *className;
    int id; // -1 for the static text
    const char *text;
    short x, y, cx, cy;
    unsigned long style;
};

#define DIALOG_EXPLANATION                                                                      \
    "This program updates registry for IrDA connection on COM3: or on first unused COM-port " \
    "above COM4: (autoscan).  It will make you able to use infrared connection to Quelm QX7 "  \
    "cellular phone.\""

static const ExpectedControl kExpectedControls[] = {
    {"Button", IDC_AUTOSCAN, "Autoscan", 6, 50, 41, 14, 0x50010000ul},
    {"Static", IDC_STATIC, DIALOG_EXPLANATION, 2, 2, 153, 45, 0x50020000ul},
    {"Button", IDC_COM3, "COM3:", 58, 50, 41, 14, 0x50010001ul},
    {"Button", IDCANCEL, "Cancel", 110, 50, 41, 14, 0x50010000ul},
};

#endif
