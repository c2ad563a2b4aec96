/*
 * The IR modem entry: the external-modem record this program writes under
 * HKEY_LOCAL_MACHINE\ExtModems\IR, and whose friendly name the port scan
 * recognises.
 */
#ifndef SAMBREL_APP_IRMODEM_H
#define SAMBREL_APP_IRMODEM_H

#include "platform/coredll.h"

#define IR_FRIENDLY_NAME TEXT("Quelm Phone on Infrared port")

#endif
