// The sanitizers' build, whose runtimes work inside the child too. Their
// shadow memory takes terabytes of address space, so the cell sets no
// limit on address space; their reports go to standard error, whatever
// file that is, so no limit on file sizes either. The filter lets the
// child write standard error, read files and make pipes of its own (four
// descriptors more), as they do: the UndefinedBehaviorSanitizer finds whether memory can be read
// by writing it into a pipe; a report reads the options from
// /proc/self/environ, the memory map from /proc/self/maps, and the names
// of the functions on the stack from the files they were loaded from.
// Writing, creating or truncating a file stays forbidden, and so does
// every other call. LeakSanitizer's check at exit, which needs clone and
// ptrace, does not run in the child, which ends with _exit.
#include "cell/build.h"

namespace cell {

const BuildRules kBuildRules = {false, false, true};

} // namespace cell
