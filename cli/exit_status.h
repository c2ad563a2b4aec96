// The command's exit statuses, after sysexits.h. The program's own are 0
// and 1 (WinMain's result); a run ended by a signal n ends as 128 + n.
#ifndef SAMBREL_CLI_EXIT_STATUS_H
#define SAMBREL_CLI_EXIT_STATUS_H

namespace cli {

constexpr int kExitUsage = 64;
constexpr int kExitDataError = 65;
constexpr int kExitNoInput = 66;
constexpr int kExitUnavailable = 69;
constexpr int kExitImageFault = 70;
constexpr int kExitIoError = 74;
constexpr int kExitChanged = 75; // another program changed the registry file meanwhile
constexpr int kExitSignalled = 128; // plus the signal's number

} // namespace cli

#endif
