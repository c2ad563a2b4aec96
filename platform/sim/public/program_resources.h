// The program module's compiled resources, as the resource compiler wrote
// them; the build embeds them in every host executable that runs WinMain.
#ifndef SAMBREL_SIM_PROGRAM_RESOURCES_H
#define SAMBREL_SIM_PROGRAM_RESOURCES_H

#include <cstddef>

namespace sim {

extern const unsigned char kProgramResources[];
extern const std::size_t kProgramResourcesSize;

} // namespace sim

#endif
