// The core library's operations for a guest program: each trapped ordinal
// of the core library's table is served by the simulated handheld's own
// coredll entry points (the formatters by its formatter), with the
// arguments read from the emulated registers, stack and memory, and every
// buffer copied both ways within the sizes the guest gave.
#ifndef SAMBREL_CEIMAGE_COREDLL_SERVED_H
#define SAMBREL_CEIMAGE_COREDLL_SERVED_H

#include "ceimage/machine.h"
#include "ceimage/pe_image.h"

namespace ceimage {

// The loaded module, as the served calls see it.
struct Module {
    const PeImage *image;
    std::uint32_t base; // where it was loaded: its instance handle
};

// How much the handheld's registry may grow while an image runs, each key
// created counted again by its full path (sim::Registry::LimitGrowth).
constexpr std::uint64_t kMaxRegistryGrowth = 64u << 20;

// Serves one call. Besides the bytes of guest memory it reads and writes,
// which the machine counts, a call costs the guest kCallInstructions for
// its own bookkeeping and one instruction for each byte or entry the
// handheld copies, moves, searches or keeps for it. A registry that has
// grown past its bound ends the run.
constexpr std::uint64_t kCallInstructions = 32;
void ServeCoredll(Machine &machine, const Module &module, std::uint16_t ordinal);

// Whether the ordinal is one this handheld serves.
bool Serves(std::uint16_t ordinal);

} // namespace ceimage

#endif
