// The handheld that plain `sambrel` runs on: a typical device with a few
// active drivers and no external modems yet.
#ifndef SAMBREL_CLI_DEFAULT_HANDHELD_H
#define SAMBREL_CLI_DEFAULT_HANDHELD_H

#include "registry.h"

namespace cli {

void FillDefaultRegistry(sim::Registry &registry);

} // namespace cli

#endif
