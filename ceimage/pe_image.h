// A Windows CE executable image for ARM, read and checked as the handheld's
// loader reads it: its sections, base relocations, COREDLL imports by
// ordinal, and resources.
#ifndef SAMBREL_CEIMAGE_PE_IMAGE_H
#define SAMBREL_CEIMAGE_PE_IMAGE_H

#include "platform/sim/public/handheld.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ceimage {

struct ImageSection {
    std::string name;
    std::uint32_t rva = 0;
    std::uint32_t virtualSize = 0;
    std::uint32_t characteristics = 0;
    std::vector<std::uint8_t> data; // the raw bytes; the rest of virtualSize is zero

    bool Executable() const { return characteristics & 0x20000000u; }
    bool Writable() const { return characteristics & 0x80000000u; }
};

struct ImageImport {
    std::uint32_t slotRva = 0; // the import table entry the loader fills
    std::uint16_t ordinal = 0;
};

// A resource, and where its bytes lie in the image.
struct ImageResource {
    sim::Resource resource;
    std::uint32_t rva = 0;
};

struct PeImage {
    std::uint32_t imageBase = 0;
    std::uint32_t sizeOfImage = 0;
    std::uint32_t sizeOfHeaders = 0;
    std::uint32_t entryRva = 0;
    std::uint32_t stackReserve = 0;
    std::vector<std::uint8_t> headers;
    std::vector<ImageSection> sections;
    std::vector<std::uint32_t> relocations; // RVAs of 32-bit words to rebase
    std::vector<ImageImport> imports;
    std::vector<ImageResource> resources;
};

// The largest image file.
constexpr std::uint32_t kMaxImageBytes = 64u << 20;

// Where the handheld lays a process's image out: from its first 64 KiB up to
// the reserve of its stack, which lies above.
constexpr std::uint32_t kImageSpaceBegin = 0x00010000;
constexpr std::uint32_t kImageSpaceEnd = 0x00E00000;

// Reads the image; nullopt with the reason in error when it is not one the
// handheld would load (wrong machine or subsystem, damaged tables, imports
// from another library or by name).
std::optional<PeImage> ReadPeImage(const std::vector<std::uint8_t> &bytes, std::string &error);

// The image's resources, for the simulated handheld's resource calls.
sim::Resources ResourcesOf(const PeImage &image);

} // namespace ceimage

#endif
