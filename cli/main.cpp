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

// The handheld's registry: the file's, or the default handheld's when
// there is no file or it does not exist yet.
std::optional<regfile::LoadError> LoadRegistry(savefile::HeldFile *file, regfile::Loaded &loaded)
{
    if (!file || !file->Existed()) {
        loaded = cli::DefaultHandheld();
        return std::nullopt;
    }
    return regfile::Load(*file, loaded);
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

} // namespace

int main(int argc, char **argv)
{
    if (!OpenClosedStandardDescriptors())
        return cli::kExitIoError; // stderr may be the one that failed: nothing to say it on
    cli::ParseResult parsed = cli::ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.error.empty())
        return UsageError(parsed.error);
    const cli::Options &options = parsed.options;
    if (options.help) {
        std::fputs(cli::HelpText().c_str(), stdout);
        return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : cli::kExitIoError;
    }
    if (options.version) {
        std::printf("sambrel 1.0\n");
        return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : cli::kExitIoError;
    }

    bool terminal = isatty(STDIN_FILENO) && isatty(STDOUT_FILENO);
    if (!options.choose && !terminal)
        return UsageError("no terminal to show the dialog on; answer it with --choose " + cli::ChoiceNames("|"));
    if (!options.choose) {
        std::string why;
        if (!cli::TerminalUsable(why))
            return UsageError(cli::Shown(why) + "; answer the dialog with --choose " + cli::ChoiceNames("|"));
    }
    cli::EndRunsOnSignals();

    // Everything that could keep the run from being saved is found out
    // before the dialog opens.
    int status = 0;
    std::shared_ptr<cli::LoadedImage> image;
    if (options.image && !(image = cli::LoadImage(*options.image, status)))
        return status;

    std::unique_ptr<savefile::HeldFile> file;
    if (options.registry) {
        savefile::Failure failure;
        file = savefile::HeldFile::Open(*options.registry, !options.dryRun, FilePolicy(*options.registry), failure);
        if (!file)
            return Failed(failure);
    }
    // The outputs: never the registry file itself, under any name, but for
    // an export, which is then the save itself; never each other; and
    // writable.
    bool toStdout = options.exportTo && *options.exportTo == "-";
    // Standard output and error are outputs too: printed into the registry
    // file (>> device.reg), they would change it before it is replaced, and
    // into an export or messages file they would be lost with the file it
    // replaces. Told by what they are open on, not by their names, which
    // need /proc.
    for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
        if (file && file->IsOpenAs(fd))
            return UsageError("standard output or error is the registry file itself");
        if (options.exportTo && !toStdout && savefile::ReplacesFileOf(*options.exportTo, fd))
            return UsageError("standard output or error is the --export file itself");
        if (options.messages && savefile::ReplacesFileOf(*options.messages, fd))
            return UsageError("standard output or error is the --messages file itself");
    }
    if (file && options.messages && file->IsNamedBy(*options.messages))
        return UsageError("--messages would write the registry file itself");
    bool exportIsFile = file && options.exportTo && !toStdout && file->IsNamedBy(*options.exportTo);
    if (exportIsFile && options.dryRun)
        return UsageError("--dry-run --export would write the registry file itself");
    if (options.exportTo && !toStdout && options.messages && savefile::SameFile(*options.exportTo, *options.messages))
        return UsageError("--export and --messages would write the same file");
    std::string error;
    if (options.exportTo && !toStdout && !exportIsFile && !savefile::CheckOutput(*options.exportTo, error))
        return Failed(cli::kExitIoError, cli::Shown(*options.exportTo + ": cannot export: " + error));
    if (options.messages && !savefile::CheckOutput(*options.messages, error))
        return Failed(cli::kExitIoError, cli::Shown(*options.messages + ": cannot write: " + error));

    regfile::Loaded loaded;
    if (auto fault = LoadRegistry(file.get(), loaded)) {
        if (fault->line == 0) // the file itself could not be read
            return Failed(cli::kExitDataError, cli::Shown(*options.registry + ": " + fault->message));
        return Failed(cli::kExitDataError,
                      cli::Shown(*options.registry + ":" + std::to_string(fault->line) + ": " + fault->message));
    }

    // The program: the image's in a process of its own, or the one built in.
    cli::ProgramRun run = image ? cli::RunImage(*image, options, std::move(loaded.registry))
                                : RunBuiltIn(options, std::move(loaded.registry));
    if (run.status)
        return Failed(run.status, run.error); // nothing is saved
    const int result = run.result;

    // The registry file and the export take the file's bytes as they are
    // made, never held whole.
    auto save = [&](bytes::Sink &sink, std::string &why) {
        if (!run.unsavable.empty()) {
            why = run.unsavable;
            return false;
        }
        return regfile::Save(run.registry.tree(), loaded.format, sink, why);
    };
    // The outputs are written before the registry file, so that one that
    // fails (a full disk) leaves the registry file as it was. Standard
    // output takes the export whole, with the summary: a save that failed
    // late must not leave half of it there.
    std::string exported;
    std::fflush(stdout); // before anything is written to descriptor 1 itself
    bytes::StringSink exportedSink(exported);
    if (options.exportTo && !exportIsFile &&
        !(toStdout ? save(exportedSink, error)
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

    // What a person reads, and the export with --export -: with the registry
    // on standard output, what a person reads goes to standard error, so
    // that the output is the export alone.
    std::string summary = cli::Shown(run.printed, true, std::string::npos);
    if (!options.choose)
        for (const auto &box : run.messages)
            summary += cli::Shown(text::Utf8(box.caption) + ": " + text::Utf8(box.text), false) + "\n";
    summary += run.irEntry;
    auto print = [&](std::string &why) {
        if (!savefile::WriteWhileHeld(toStdout ? STDERR_FILENO : STDOUT_FILENO, summary, why)) {
            why = (toStdout ? "standard error: " : "standard output: ") + why;
            return false;
        }
        if (toStdout && !savefile::WriteWhileHeld(STDOUT_FILENO, exported, why)) {
            why = "standard output: " + why;
            return false;
        }
        return true;
    };

    // The registry file is written when the run changed the registry or
    // when it is the export: held all along, so that no other run's save
    // comes in between. A run that changed nothing (Cancel, a failure
    // before the first write) leaves a file that did not exist uncreated.
    // What is printed is printed once its new file is whole, before it
    // replaces the old one: standard output that cannot be written (74)
    // leaves the old file, as every other output does.
    if (file && !options.dryRun && (run.changed || exportIsFile)) {
        savefile::Steps steps;
        steps.ready = [&](std::string &why) {
            if (print(why))
                return true;
            why += "; " + *options.registry + " was not saved: it is as it was";
            return false;
        };
        // A signal that comes once it is saved no longer means that nothing
        // was.
        steps.saved = [&] { cli::EndRunsAfterSave(cli::Shown(*options.registry), result); };
        savefile::Failure failure;
        if (!file->Replace(save, failure, steps))
            return Failed(failure);
    } else if (!print(error)) {
        return Failed(cli::kExitIoError, error);
    }
    registry::KeepUntilExit(std::move(run.registry.tree())); // given back with the process, at once
    return result;
}
