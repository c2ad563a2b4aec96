// The sanitizers' build. AddressSanitizer reserves terabytes of address
// space for its shadow memory as the process starts, so the cell sets no
// limit on address space; its reports go to standard error, whatever file
// that is, so no limit on file sizes either. The UndefinedBehaviorSanitizer
// checks an object's type by writing its memory into a pipe of its own, so
// the filter lets the child make pipes and write to and close them (two
// descriptors more). LeakSanitizer's check at exit, which needs clone and
// ptrace, does not run in the child, which ends with _exit. Every other rule
// stays.
#include "cell/build.h"

namespace cell {

const BuildRules kBuildRules = {false, false, true};

void BeforeFilter() {}

} // namespace cell
