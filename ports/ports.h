/*
 * Which COM ports the device already uses, and the first free one.
 */
#ifndef SAMBREL_PORTS_PORTS_H
#define SAMBREL_PORTS_PORTS_H

#include "platform/coredll.h"

/* Bit n set: port number n (0 to 15) is in use. */
typedef WORD ComPortMask;

/* Upper bound, exclusive, of the ports that Autoscan may choose. */
#define COM_PORT_LIMIT 10

ComPortMask ScanComUsage(LPCWSTR lpRootPath, BOOL fStopOnFriendlyName);
ComPortMask ScanActiveDrivers();
ComPortMask ScanExtModems();

/* The lowest port from nFirst up to 9 that neither tree uses, or -1. */
int FindFreeComPort(int nFirst);

#endif
