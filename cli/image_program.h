// The handheld's own program, a Windows CE ARM image, run by sambrel in
// place of the program built in (--image).
#ifndef SAMBREL_CLI_IMAGE_PROGRAM_H
#define SAMBREL_CLI_IMAGE_PROGRAM_H

#include "cli/options.h"
#include "platform/sim/public/handheld.h"

#include <memory>
#include <optional>
#include <string>

namespace cli {

struct LoadedImage;

// Reads and checks the image file; on failure prints why and sets the exit
// status (66 unreadable, 65 not a CE ARM image, 69 no emulator in this build).
std::shared_ptr<LoadedImage> LoadImage(const std::string &path, int &status);
sim::Resources ImageResources(const LoadedImage &image);

// Runs the image on the handheld attached to this thread; WinMain's result,
// or nullopt after a fault of the image, with what happened in fault.
std::optional<int> RunImage(const LoadedImage &image, Cpu cpu, std::string &fault);

} // namespace cli

#endif
