// sambrel: runs the program on a simulated handheld, in a terminal or
// answered from the command line, and shows the IR modem entry afterwards.
// The handheld's registry may come from a .reg file and go back to it: the
// file is held for the whole run, checked before anything runs, and what
// is printed is printed once its new file is made but before that replaces
// the old one, so that whatever happens it is the old file or the new one,
// and a failure to print (exit 74) means the old one.
#include "app/winmain.h"
#include "bytes/source_sink.h"
#include "cli/default_handheld.h"
#include "cli/exit_status.h"
#include "cli/image_program.h"
#include "cli/options.h"
#include "cli/program_run.h"
#include "cli/shown.h"
#include "cli/signals.h"
#include "cli/users.h"
#include "platform/sim/public/handheld.h"
#include "platform/sim/public/program_resources.h"
#include "regfile/regfile.h"
#include "registry/model.h"
#include "savefile/savefile.h"
#include "text/codecs.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

int UsageError(const std::string &reason)
{
    std::fprintf(stderr, "sambrel: %s\nTry 'sambrel --help' for more information.\n",
                 reason.c_str());
    return cli::kExitUsage;
}

int Failed(int status, const std::string &message)
{
    std::fprintf(stderr, "sambrel: %s\n", message.c_str());
    return status;
}

int Failed(const savefile::Failure &failure)
{
    int status = cli::kExitIoError;
    switch (failure.kind) {
    case savefile::Failure::Kind::Unreadable: status = cli::kExitDataError; break;
    case savefile::Failure::Kind::Unwritable: status = cli::kExitIoError; break;
    case savefile::Failure::Kind::Changed: status = cli::kExitChanged; break;
    case savefile::Failure::Kind::Signalled: status = cli::kExitSignalled + failure.signal; break;
    }
    return Failed(status, cli::Shown(failure.message));
}

// The files sambrel saves are registry files; another run is waited for
// with a word on stderr.
savefile::Policy FilePolicy(const std::string &path)
{
    return {regfile::BeginsAsRegistryFile, [path] {
                std::fprintf(stderr, "sambrel: %s is in use by another run of sambrel; waiting for it to finish\n",
                             cli::Shown(path).c_str());
            }};
}

// The program built in: our own code, run in this process.
cli::ProgramRun RunBuiltIn(const cli::Options &options, registry::Tree registry)
{
    cli::Transcript printed;
    std::unique_ptr<sim::User> user = cli::MakeUser(options, printed.stream());
    cli::ProgramRun run;
    cli::RunOnHandheld(options, sim::Resources(sim::kProgramResources, sim::kProgramResourcesSize),
                       std::move(registry), *user, [](sim::Handheld &handheld, std::string &) -> std::optional<int> {
                           WCHAR commandLine[] = u"";
                           return WinMain(handheld.Instance(), nullptr, commandLine, 1);
                       },
                       run);
    user.reset(); // the terminal is given back before anything is printed on it
    run.printed = printed.Take();
    return run;
}

// Standard input, output and error that the caller closed are opened on
// /dev/null, the wrong way round (input for writing, output for reading),
// as gnulib's stdopen does: the first file sambrel opens must not become
// standard output, where the summary would be written into it, and
// writing to a closed standard output must still fail (74).
bool OpenClosedStandardDescriptors()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
            continue;
        int opened = open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
        if (opened != fd) { // the lower ones are open: this one is the lowest free
            if (opened >= 0)
                close(opened);
            return false;
        }
    }
    return true;
}

// What a run reads, found out before the dialog opens: the image to run
// instead of the program built in, the registry file held for the run, and
// the handheld's registry.
struct Inputs {
    std::shared_ptr<cli::LoadedImage> image;
    std::unique_ptr<savefile::HeldFile> file;
    regfile::Loaded loaded;
};

// Where the export goes, once the outputs are checked.
struct Outputs {
    bool toStdout = false;     // standard output, with --export -
    bool exportIsFile = false; // the registry file itself, which it then saves
};

// The status a step ends the run with, said already; none to go on.
using Ended = std::optional<int>;

// --help and --version: printed, and nothing run.
int PrintAbout(const cli::Options &options)
{
    if (options.help)
        std::fputs(cli::HelpText().c_str(), stdout);
    else
        std::printf("sambrel 1.0\n");
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : cli::kExitIoError;
}

// Without --choose the dialog needs a terminal it can use.
Ended CheckDialog(const cli::Options &options)
{
    if (options.choose)
        return std::nullopt;
    bool terminal = isatty(STDIN_FILENO) && isatty(STDOUT_FILENO);
    if (!terminal)
        return UsageError("no terminal to show the dialog on; answer it with --choose " + cli::ChoiceNames("|"));
    std::string why;
    if (!cli::TerminalUsable(why))
        return UsageError(cli::Shown(why) + "; answer the dialog with --choose " + cli::ChoiceNames("|"));
    return std::nullopt;
}

// The image and the registry file, which everything after them needs.
Ended OpenInputs(const cli::Options &options, Inputs &inputs)
{
    int status = 0;
    if (options.image && !(inputs.image = cli::LoadImage(*options.image, status)))
        return status;
    if (options.registry) {
        savefile::Failure failure;
        inputs.file = savefile::HeldFile::Open(*options.registry, !options.dryRun, FilePolicy(*options.registry),
                                               failure);
        if (!inputs.file)
            return Failed(failure);
    }
    return std::nullopt;
}

// The outputs: never the registry file itself, under any name, but for an
// export, which is then the save itself; never each other; and writable.
// The usage error that one breaks, or "" when none does.
std::string MisplacedOutput(const cli::Options &options, const savefile::HeldFile *file, const Outputs &outputs)
{
    // Standard output and error are outputs too: printed into the registry
    // file (>> device.reg), they would change it before it is replaced, and
    // into an export or messages file they would be lost with the file it
    // replaces. Told by what they are open on, not by their names, which
    // need /proc.
    for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
        if (file && file->IsOpenAs(fd))
            return "standard output or error is the registry file itself";
        if (options.exportTo && !outputs.toStdout && savefile::ReplacesFileOf(*options.exportTo, fd))
            return "standard output or error is the --export file itself";
        if (options.messages && savefile::ReplacesFileOf(*options.messages, fd))
            return "standard output or error is the --messages file itself";
    }
    if (file && options.messages && file->IsNamedBy(*options.messages))
        return "--messages would write the registry file itself";
    if (outputs.exportIsFile && options.dryRun)
        return "--dry-run --export would write the registry file itself";
    if (options.exportTo && !outputs.toStdout && options.messages &&
        savefile::SameFile(*options.exportTo, *options.messages))
        return "--export and --messages would write the same file";
    return "";
}

Ended CheckOutputs(const cli::Options &options, const savefile::HeldFile *file, Outputs &outputs)
{
    outputs.toStdout = options.exportTo && *options.exportTo == "-";
    outputs.exportIsFile = file && options.exportTo && !outputs.toStdout && file->IsNamedBy(*options.exportTo);
    std::string error = MisplacedOutput(options, file, outputs);
    if (!error.empty())
        return UsageError(error);
    if (options.exportTo && !outputs.toStdout && !outputs.exportIsFile &&
        !savefile::CheckOutput(*options.exportTo, error))
        return Failed(cli::kExitIoError, cli::Shown(*options.exportTo + ": cannot export: " + error));
    if (options.messages && !savefile::CheckOutput(*options.messages, error))
        return Failed(cli::kExitIoError, cli::Shown(*options.messages + ": cannot write: " + error));
    return std::nullopt;
}

// The handheld's registry: the file's, or the default handheld's when
// there is no file or it does not exist yet.
Ended LoadRegistry(const cli::Options &options, Inputs &inputs)
{
    if (!inputs.file || !inputs.file->Existed()) {
        inputs.loaded = cli::DefaultHandheld();
        return std::nullopt;
    }
    std::optional<regfile::LoadError> fault = regfile::Load(*inputs.file, inputs.loaded);
    if (!fault)
        return std::nullopt;
    if (fault->line == 0) // the file itself could not be read
        return Failed(cli::kExitDataError, cli::Shown(*options.registry + ": " + fault->message));
    return Failed(cli::kExitDataError,
                  cli::Shown(*options.registry + ":" + std::to_string(fault->line) + ": " + fault->message));
}

// The registry file and the export take the file's bytes as they are made,
// never held whole.
savefile::Writer RegistryWriter(const cli::ProgramRun &run, const regfile::Format &format)
{
    return [&run, format](bytes::Sink &sink, std::string &why) {
        if (!run.unsavable.empty()) {
            why = run.unsavable;
            return false;
        }
        return regfile::Save(run.registry.tree(), format, sink, why);
    };
}

// The outputs are written before the registry file, so that one that fails
// (a full disk) leaves the registry file as it was. Standard output takes
// the export whole, with the summary, into exported: a save that failed
// late must not leave half of it there.
Ended WriteOutputs(const cli::Options &options, const Outputs &outputs, const cli::ProgramRun &run,
                   const savefile::Writer &save, std::string &exported)
{
    std::string error;
    std::fflush(stdout); // before anything is written to descriptor 1 itself
    bytes::StringSink exportedSink(exported);
    if (options.exportTo && !outputs.exportIsFile &&
        !(outputs.toStdout ? save(exportedSink, error)
                           : savefile::WriteOutput(*options.exportTo, save, FilePolicy(*options.exportTo), error)))
        return Failed(cli::kExitIoError, cli::Shown(*options.exportTo + ": cannot export: " + error));
    if (options.messages) {
        std::string lines;
        for (const auto &box : run.messages)
            lines += cli::Shown(text::Utf8(box.caption)) + "\t" + cli::Shown(text::Utf8(box.text)) + "\n";
        auto write = [&](bytes::Sink &sink, std::string &why) { return sink.Write(lines, why); };
        if (!savefile::WriteOutput(*options.messages, write, FilePolicy(*options.messages), error))
            return Failed(cli::kExitIoError, cli::Shown(*options.messages + ": cannot write: " + error));
    }
    return std::nullopt;
}

// What a person reads: what the user answering with --choose printed, the
// message boxes the terminal did not show, and the IR modem entry.
std::string Summary(const cli::Options &options, const cli::ProgramRun &run)
{
    std::string summary = cli::Shown(run.printed, true, std::string::npos);
    if (!options.choose)
        for (const auto &box : run.messages)
            summary += cli::Shown(text::Utf8(box.caption) + ": " + text::Utf8(box.text), false) + "\n";
    summary += run.irEntry; // appended, not copied: what was printed may be large
    return summary;
}

// What a person reads, and the export with --export -: with the registry on
// standard output, what a person reads goes to standard error, so that the
// output is the export alone.
bool Print(const std::string &summary, const Outputs &outputs, const std::string &exported, std::string &why)
{
    if (!savefile::WriteWhileHeld(outputs.toStdout ? STDERR_FILENO : STDOUT_FILENO, summary, why)) {
        why = (outputs.toStdout ? "standard error: " : "standard output: ") + why;
        return false;
    }
    if (outputs.toStdout && !savefile::WriteWhileHeld(STDOUT_FILENO, exported, why)) {
        why = "standard output: " + why;
        return false;
    }
    return true;
}

// Saves what the run left: the outputs, then the registry file, printing on
// the way; the run's result, or the status of what failed.
int Save(const cli::Options &options, Inputs &inputs, const Outputs &outputs, cli::ProgramRun &run)
{
    savefile::Writer save = RegistryWriter(run, inputs.loaded.format);
    std::string exported;
    if (Ended ended = WriteOutputs(options, outputs, run, save, exported))
        return *ended;
    const std::string summary = Summary(options, run);
    const int result = run.result;

    // The registry file is written when the run changed the registry or
    // when it is the export: held all along, so that no other run's save
    // comes in between. A run that changed nothing (Cancel, a failure
    // before the first write) leaves a file that did not exist uncreated.
    // What is printed is printed once its new file is whole, before it
    // replaces the old one: standard output that cannot be written (74)
    // leaves the old file, as every other output does.
    std::string error;
    if (inputs.file && !options.dryRun && (run.changed || outputs.exportIsFile)) {
        savefile::Steps steps;
        steps.ready = [&](std::string &why) {
            if (Print(summary, outputs, exported, why))
                return true;
            why += "; " + *options.registry + " was not saved: it is as it was";
            return false;
        };
        // A signal that comes once it is saved no longer means that nothing
        // was.
        steps.saved = [&] { cli::EndRunsAfterSave(cli::Shown(*options.registry), result); };
        savefile::Failure failure;
        if (!inputs.file->Replace(save, failure, steps))
            return Failed(failure);
    } else if (!Print(summary, outputs, exported, error)) {
        return Failed(cli::kExitIoError, error);
    }
    registry::KeepUntilExit(std::move(run.registry.tree())); // given back with the process, at once
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    if (!OpenClosedStandardDescriptors())
        return cli::kExitIoError; // stderr may be the one that failed: nothing to say it on
    cli::ParseResult parsed = cli::ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.error.empty())
        return UsageError(parsed.error);
    const cli::Options &options = parsed.options;
    if (options.help || options.version)
        return PrintAbout(options);
    if (Ended ended = CheckDialog(options))
        return *ended;
    cli::EndRunsOnSignals();

    // Everything that could keep the run from being saved is found out
    // before the dialog opens.
    Inputs inputs;
    Outputs outputs;
    if (Ended ended = OpenInputs(options, inputs))
        return *ended;
    if (Ended ended = CheckOutputs(options, inputs.file.get(), outputs))
        return *ended;
    if (Ended ended = LoadRegistry(options, inputs))
        return *ended;

    // The program: the image's in a process of its own, or the one built in.
    cli::ProgramRun run = inputs.image ? cli::RunImage(*inputs.image, options, std::move(inputs.loaded.registry))
                                       : RunBuiltIn(options, std::move(inputs.loaded.registry));
    if (run.status)
        return Failed(run.status, run.error); // nothing is saved
    return Save(options, inputs, outputs, run);
}
