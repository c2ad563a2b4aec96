// The sambrel command's options.
#ifndef SAMBREL_CLI_OPTIONS_H
#define SAMBREL_CLI_OPTIONS_H

#include "cli/exit_status.h"
#include "platform/sim/faults.h"

#include <optional>
#include <string>
#include <vector>

namespace cli {

enum class Choice { Autoscan, Com3, Cancel, Close };

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
    std::string cpu = "sa1110";          // the emulated processor for the image
};

struct ParseResult {
    Options options;
    std::string error; // set on a usage error: one line, without the program name
};

ParseResult ParseOptions(const std::vector<std::string> &args);

std::string HelpText();

} // namespace cli

#endif
