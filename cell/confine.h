// What the child does to confine itself, and what it tells its parent of
// the cell itself; inside the room only.
#ifndef SAMBREL_CELL_CONFINE_H
#define SAMBREL_CELL_CONFINE_H

#include "cell/needs.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace cell {

// The descriptor the child's frames go to, once confined: the first after
// the standard ones.
constexpr int kResultsFd = 3;

// The frames the cell sends itself, ahead of or instead of the work's: why
// the child could not confine itself (and did no work), and the system
// call the filter stopped (its number, four bytes, little-endian).
constexpr char kUnconfinedTag = '!';
constexpr char kForbiddenTag = '#';
constexpr std::size_t kCellFrameLimit = 256;
// Descriptors the sanitizers' checks and reports open (cell/build.h): a
// pipe, and a file or two.
constexpr int kSanitizerDescriptors = 4;

// How the child exits when its work could not end as it should: an
// exception it did not catch, memory past its limit. (The sanitizers'
// runtimes exit with 1 after a report.)
constexpr int kUncaughtStatus = 3;
constexpr int kOutOfMemoryStatus = 4;

// CPU time, a backstop behind the work's own bounds (the emulator's
// instruction budget ends a run within seconds): a child that has used it
// up gets SIGXCPU, and SIGKILL a second later.
constexpr unsigned kCpuSeconds = 60;
// Address space the child may take beyond what it holds as it is confined
// (the parent's memory, which fork gave it, the libraries): libunicorn's
// translation buffer, 1 GiB of read, write and execute that it maps whole
// as it starts, and 768 MiB for the rest of a run.
constexpr std::uint64_t kAddressSpaceHeadroom = (1024u + 768u) << 20;

// Closes every descriptor but the standard ones and the results, sets the
// limits and no new privileges, and installs the filter; false with why.
bool Confine(const Needs &needs, std::string &why);

// The filter: allows what needs asks for and the rest that any work needs
// (memory, its own signals, writing the results), and
// traps anything else as SIGSYS.
bool InstallFilter(const Needs &needs, std::string &why);

} // namespace cell

#endif
