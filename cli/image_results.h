// What the image's process hands back to sambrel, in frames through the
// cell's pipe: the image refused, its fault, or its run (the outcome, the
// message boxes, what was printed, and the registry as a registry file).
// sambrel reads them as hostile input: within the sizes below, the
// registry through the same strict loader as a file named on the command
// line, and nothing of it used unless all of it came and is well formed.
#ifndef SAMBREL_CLI_IMAGE_RESULTS_H
#define SAMBREL_CLI_IMAGE_RESULTS_H

#include "cell/cell.h"
#include "cli/program_run.h"
#include "regfile/regfile.h"

#include <cstdint>
#include <string>

namespace cli {

// The message boxes and what was printed, together: more than a run
// within the instruction budget can show (every character shown costs
// the image six of its instructions).
constexpr std::uint64_t kMaxShownResult = 128u << 20;
// How much larger than the registry it was given, as a file, the registry
// the image's process gives back may be: all the registry may grow by in a
// run (64 MiB), and all the data an image can write within its budget,
// each byte as hexadecimal UTF-16 (seven bytes), with room to spare.
constexpr std::uint64_t kMaxRegistryGrowthResult = 768u << 20;
// How much more memory than the registry it was given that registry's tree
// may hold, loaded: twice all a run may grow it by (its data and keys as
// the handheld's tree holds them, which a tree loaded from a file holds
// alike), where keys alone, the most memory for their bytes, could
// otherwise make a result within its size hold gigabytes.
constexpr std::uint64_t kMaxRegistryHeldGrowth = 128u << 20;
// How the registry travels: UTF-16, which holds every name and text a
// registry can.
constexpr regfile::Format kResultFormat = {regfile::Encoding::Utf16, regfile::LineEnd::Lf};

// The image's process's side.
void SendRefusal(cell::FrameWriter &out, int status, const std::string &why);
void SendRun(cell::FrameWriter &out, const ProgramRun &run);

// sambrel's side: what the child sent, into run (its status and error for
// a refusal or a fault; else its result, registry, messages and what was
// printed). False, with why, for anything malformed, cut short or larger
// than allowed (limits).
struct ResultLimits {
    std::uint64_t bytes; // the registry as it travels
    std::uint64_t held;  // the memory its tree holds, loaded
};
bool TakeRun(cell::Child &child, const ResultLimits &limits, ProgramRun &run, std::string &why);

// Whether the registry of a run taken is one that the image's run could
// have left from the one it was given: no key or value lost or spelt
// otherwise (the core library's calls remove and rename none), unchanged
// where it says so, and grown within limits.held, the paths of the keys it
// made counted in as the handheld counts them; false, with why, if not.
bool KeptFrom(const registry::Tree &given, const ResultLimits &limits, const ProgramRun &run, std::string &why);

// The limits of the registry given back by a run given this one.
ResultLimits LimitsFor(const registry::Tree &given);

} // namespace cli

#endif
