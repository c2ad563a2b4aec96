// The sambrel command's options.
#ifndef SAMBREL_CLI_OPTIONS_H
#define SAMBREL_CLI_OPTIONS_H

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

// Exit statuses, after sysexits.h.
constexpr int kExitUsage = 64;
constexpr int kExitDataError = 65;
constexpr int kExitNoInput = 66;
constexpr int kExitUnavailable = 69;
constexpr int kExitImageFault = 70;
constexpr int kExitIoError = 74;

struct ParseResult {
    Options options;
    std::string error; // set on a usage error: one line, without the program name
};

ParseResult ParseOptions(const std::vector<std::string> &args);

std::string HelpText();

} // namespace cli

#endif
