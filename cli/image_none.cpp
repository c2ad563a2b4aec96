// --image in a build without the ARM emulator (libunicorn).
#include "cli/image_program.h"

#include "cli/options.h"

#include <cstdio>

namespace cli {

struct LoadedImage {};

std::shared_ptr<LoadedImage> LoadImage(const std::string &, int &status)
{
    std::fputs("sambrel: --image needs the ARM emulator (libunicorn), which this build does not have\n", stderr);
    status = kExitUnavailable;
    return nullptr;
}

sim::Resources ImageResources(const LoadedImage &) { return sim::Resources(); }

std::optional<int> RunImage(const LoadedImage &, Cpu, std::string &fault)
{
    fault = "no ARM emulator in this build";
    return std::nullopt;
}

} // namespace cli
