// The core library's operations for a guest program: each trapped ordinal
// is served by the simulated handheld's own coredll entry points, with the
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

void ServeCoredll(Machine &machine, const Module &module, std::uint16_t ordinal);

// Whether the ordinal is one this handheld serves.
bool Serves(std::uint16_t ordinal);

} // namespace ceimage

#endif
