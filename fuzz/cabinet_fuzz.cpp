// libFuzzer target for the installation cabinet's reader: no input may
// crash it, draw a sanitizer report or exceed its bounds; it gives either
// the program's bytes or a reason, never both.
#include "ceimage/cab_installer.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::vector<std::uint8_t> bytes(data, data + size);
    ceimage::CabinetProgram program = ceimage::ProgramInCabinet(bytes);
    if (program.error.empty() == program.bytes.empty() || program.bytes.size() > ceimage::kMaxCabinetMember ||
        program.unavailable)
        std::abort();
    return 0;
}
