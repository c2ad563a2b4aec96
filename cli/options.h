// The sambrel command's options.
#ifndef SAMBREL_CLI_OPTIONS_H
#define SAMBREL_CLI_OPTIONS_H

#include "cli/exit_status.h"
#include "platform/sim/public/handheld.h"

#include <optional>
#include <string>
#include <vector>

namespace cli {

// What --choose answers the dialog with, and the processor --cpu emulates;
// each has one table of names (options.cpp).
enum class Choice { Autoscan, Com3, Cancel, Close };
enum class Cpu { Sa1110, Pxa255 };

// The name --choose takes for a choice ("com3"), which is also its
// button's label without case, '&' or a trailing colon.
const char *NameOf(Choice choice);
// All the choices' names, separated by separator ("autoscan|com3|...").
std::string ChoiceNames(const char *separator);

struct Options {
    bool help = false;
    bool version = false;
    std::optional<Choice> choose;
    std::vector<sim::Fault> faults;
    std::optional<std::string> registry; // the handheld's registry file
    bool dryRun = false;
    std::optional<std::string> exportTo; // "-" for standard output
    std::optional<std::string> image;    // a CE image to run instead of the program built in
    std::optional<std::string> messages; // where to list the message boxes, one a line
    Cpu cpu = Cpu::Sa1110;               // the emulated processor for the image
};

struct ParseResult {
    Options options;
    std::string error; // set on a usage error: one line, without the program name
};

ParseResult ParseOptions(const std::vector<std::string> &args);

std::string HelpText();

} // namespace cli

#endif
