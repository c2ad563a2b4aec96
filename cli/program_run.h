// A run of the program on the simulated handheld, the one built in or an
// image's, and what it leaves for the command to save, export and print.
#ifndef SAMBREL_CLI_PROGRAM_RUN_H
#define SAMBREL_CLI_PROGRAM_RUN_H

#include "cli/options.h"
#include "platform/sim/public/handheld.h"
#include "registry/model.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cli {

struct ProgramRun {
    // Non-zero when the run is to end with this status and error (already
    // shown) instead: an image refused (65), a cell that cannot be made
    // (69), a fault (70); nothing is saved.
    int status = 0;
    std::string error;
    int result = 0; // WinMain's, or the image's exit code
    sim::Registry registry;
    bool changed = false; // whether the run changed the registry
    // Why the registry cannot be written as a file, which then holds
    // nothing; and the IR modem entry, as it would be printed.
    std::string unsavable;
    std::string irEntry;
    std::vector<sim::MessageBoxRecord> messages;
    std::string printed; // what the user answering with --choose printed
};

// What the user answering with --choose prints (the dialog, the message
// boxes), kept in memory: it reaches standard output only once everything
// else is written and the registry file's new file is made.
class Transcript {
public:
    Transcript();
    ~Transcript();
    Transcript(const Transcript &) = delete;
    Transcript &operator=(const Transcript &) = delete;
    std::FILE *stream();
    std::string Take();

private:
    std::FILE *stream_ = nullptr;
    char *buffer_ = nullptr;
    size_t size_ = 0;
};

// The user the options ask for: one who answers with --choose and prints
// into printed, or the one at the terminal.
std::unique_ptr<sim::User> MakeUser(const Options &options, std::FILE *printed);

// The program, run on the handheld attached to this thread: its result, or
// nullopt after a fault, with what happened in fault.
using Program = std::function<std::optional<int>(sim::Handheld &handheld, std::string &fault)>;

// Runs program on a handheld of these resources, with the registry and the
// options' faults, in front of user; fills run's result (or its fault:
// status 70 and error), registry, changed, IR modem entry and messages.
void RunOnHandheld(const Options &options, sim::Resources resources, registry::Tree registry, sim::User &user,
                   const Program &program, ProgramRun &run);

// The IR modem entry as it is printed after the run.
std::string IrEntry(const sim::Registry &registry);

} // namespace cli

#endif
