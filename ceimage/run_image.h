// Runs a Windows CE image on the emulated processor as the handheld's
// loader would: sections mapped with their protections at the load
// address, base relocations applied, each COREDLL import pointed at a trap
// that the simulated handheld attached to this thread serves, and the entry
// called with WinMain's four arguments.
#ifndef SAMBREL_CEIMAGE_RUN_IMAGE_H
#define SAMBREL_CEIMAGE_RUN_IMAGE_H

#include "ceimage/machine.h"
#include "ceimage/pe_image.h"

#include <cstdint>

namespace ceimage {

struct RunOptions {
    Cpu cpu = Cpu::Sa1110;
    std::uint64_t instructionBudget = 50'000'000;
    // Where to load the image; 0 for its preferred base. Another address
    // puts the image's base relocations to work.
    std::uint32_t loadAddress = 0;
};

struct RunResult {
    int exitCode = 0;
    std::uint64_t instructions = 0; // the guest's own
    std::uint64_t hostWork = 0;     // counted against the budget for the calls it was served
};

// The handheld attached to this thread must hold ResourcesOf(image). A
// fault of the guest throws Fault.
RunResult RunImage(const PeImage &image, const RunOptions &options);

// Whether the ARM emulator can be loaded; the reason when it cannot.
bool EmulatorAvailable(std::string &why);

} // namespace ceimage

#endif
