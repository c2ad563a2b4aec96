// Every build but the sanitizers': the cell keeps all its rules.
#include "cell/build.h"

namespace cell {

const BuildRules kBuildRules = {true, true, false};

} // namespace cell
