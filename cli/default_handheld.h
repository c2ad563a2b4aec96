// The handheld that plain `sambrel` runs on, kept in the source tree as a
// registry file and compiled into the command.
#ifndef SAMBREL_CLI_DEFAULT_HANDHELD_H
#define SAMBREL_CLI_DEFAULT_HANDHELD_H

#include "regfile/regfile.h"

namespace cli {

// Loads the default handheld's registry file; it is part of the build, so a
// fault in it is a fault of the build and aborts.
regfile::Loaded DefaultHandheld();

} // namespace cli

#endif
