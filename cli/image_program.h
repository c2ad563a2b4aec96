// The handheld's own program, a Windows CE ARM image, run by sambrel in
// place of the program built in (--image): read, checked and run in a
// process of its own, a cell (cell/cell.h), since everything in it works
// on the image's bytes. sambrel keeps the registry file, the outputs and
// the save.
#ifndef SAMBREL_CLI_IMAGE_PROGRAM_H
#define SAMBREL_CLI_IMAGE_PROGRAM_H

#include "cli/options.h"
#include "cli/program_run.h"
#include "registry/model.h"

#include <memory>
#include <string>

namespace cli {

struct LoadedImage;

// Reads the image file, and finds out whether an image can run here (a
// cell can be made, the emulator loads); on failure prints why and sets
// the exit status (66 unreadable, 65 not a file an image may be, 69 no
// cell or emulator).
std::shared_ptr<LoadedImage> LoadImage(const std::string &path, int &status);

// Runs the image in a cell, on a handheld with the registry and the
// options' faults, the dialog answered as the options say; what it left,
// or why it left nothing (status and error: the image refused, 65 or 69;
// its fault, or the cell's end or result that cannot be used, 70).
ProgramRun RunImage(const LoadedImage &image, const Options &options, registry::Tree registry);

} // namespace cli

#endif
