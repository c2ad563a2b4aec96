// The command's exit statuses, after sysexits.h, and the table that
// --help lists them from (the command's reference, docs/command.md, and
// the manual page are checked against it). The program's own are 0 and 1
// (WinMain's result); a run ended by a signal n ends as 128 + n.
#ifndef SAMBREL_CLI_EXIT_STATUS_H
#define SAMBREL_CLI_EXIT_STATUS_H

#include <string>
#include <vector>

namespace cli {

constexpr int kExitUsage = 64;
constexpr int kExitDataError = 65;
constexpr int kExitNoInput = 66;
constexpr int kExitUnavailable = 69;
constexpr int kExitImageFault = 70;
constexpr int kExitIoError = 74;
constexpr int kExitChanged = 75; // another program changed the registry file meanwhile
constexpr int kExitSignalled = 128; // plus the signal's number

struct ExitStatus {
    std::string status; // a number, or "128+n"
    const char *meaning;
};

// Every status the command can end with, in the order a reader wants them.
const std::vector<ExitStatus> &ExitStatuses();

} // namespace cli

#endif
