/*
 * The IR modem entry's friendly name: the program writes it into the
 * external-modem record HKEY_LOCAL_MACHINE\ExtModems\IR, and the scan of
 * ExtModems recognises that entry by it.
 */
#ifndef SAMBREL_PORTS_IRMODEM_H
#define SAMBREL_PORTS_IRMODEM_H

#include "platform/coredll.h"

#define IR_FRIENDLY_NAME TEXT("Quelm Phone on Infrared port")

#endif
