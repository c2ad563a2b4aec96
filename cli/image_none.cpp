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

ProgramRun RunImage(const LoadedImage &, const Options &, registry::Tree)
{
    ProgramRun run;
    run.status = kExitUnavailable;
    run.error = "no ARM emulator in this build";
    return run;
}

} // namespace cli
