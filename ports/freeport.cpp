/*
 * Autoscan's answer: the lowest port from a start up to 9 that is free.
 */
#include "ports/ports.h"

int FindFreeComPort(int nFirst)
{
    ComPortMask used;
    int n;

    /* Both scans run, and report, before any candidate is looked at. */
    used = ScanActiveDrivers();
    used = (ComPortMask)(used | ScanExtModems());

    /* A negative number names no port; starting at 0 keeps the shift defined. */
    for (n = nFirst < 0 ? 0 : nFirst; n < COM_PORT_LIMIT; n++) {
        if ((used & (1u << n)) == 0)
            return n;
    }
    return -1;
}
