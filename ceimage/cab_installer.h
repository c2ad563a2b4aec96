// A Windows CE installation cabinet (.cab), read as the handheld's
// installer reads it: a Microsoft cabinet whose setup file (the member
// ending in .000) says where each of the other members, named by their
// file numbers, is installed and which shortcuts to make. --image FILE.cab
// runs the program the cabinet installs.
#ifndef SAMBREL_CEIMAGE_CAB_INSTALLER_H
#define SAMBREL_CEIMAGE_CAB_INSTALLER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ceimage {

// A cabinet is read whole from memory, so its size is bounded; so is each
// member read out of it (the setup file and the program), decompressed.
constexpr std::size_t kMaxCabinet = 64u << 20;
constexpr std::size_t kMaxCabinetMember = 8u << 20;

// Whether the bytes are a Microsoft cabinet (they begin with "MSCF").
bool IsCabinet(const std::vector<std::uint8_t> &bytes);

struct CabinetProgram {
    std::vector<std::uint8_t> bytes; // the program's image
    std::string member;              // its name in the cabinet, e.g. SAMBREL.001
    std::string error;               // why there is none; empty when there is
    bool unavailable = false;        // libmspack cannot be loaded
};

// The program the cabinet installs: the one .exe among the files its setup
// file installs, which its shortcuts to files, if any, must point at. A
// cabinet that is damaged, exceeds the bounds above, installs no program or
// more than one, is for a processor other than ARM, or would make registry
// entries (which the run here would go without), is refused with the reason.
CabinetProgram ProgramInCabinet(const std::vector<std::uint8_t> &cabinet);

} // namespace ceimage

#endif
