// sambrel: runs the program on a simulated handheld, in a terminal or
// answered from the command line, and shows the IR modem entry afterwards.
// The handheld's registry may come from a .reg file and go back to it.
#include "default_handheld.h"
#include "file.h"
#include "handheld.h"
#include "image_program.h"
#include "options.h"
#include "program_resources.h"
#include "regfile.h"
#include "users.h"
#include "winmain.h"
#include "wtext.h"

#include <cstdio>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const char kIrEntryPath[] = "HKEY_LOCAL_MACHINE\\ExtModems\\IR";

int UsageError(const std::string &reason)
{
    std::fprintf(stderr, "sambrel: %s\nTry 'sambrel --help' for more information.\n",
                 reason.c_str());
    return cli::kExitUsage;
}

void PrintIrEntry(const sim::Registry &registry)
{
    const sim::RegKey *ir = registry.FindKey(HKEY_LOCAL_MACHINE, u"ExtModems\\IR");
    if (!ir) {
        std::printf("There is no IR modem entry (%s).\n", kIrEntryPath);
        return;
    }
    std::printf("%s", regfile::KeySection(kIrEntryPath, *ir).c_str());
}

// The handheld's registry as the options give it; false (with the status
// to exit with) when the file is refused.
bool LoadRegistry(const cli::Options &options, regfile::Loaded &loaded, bool &created, int &status)
{
    created = false;
    if (!options.registry) {
        loaded = cli::DefaultHandheld();
        return true;
    }
    const std::string &path = *options.registry;
    std::string bytes, error;
    switch (regfile::ReadWholeFile(path, bytes, error)) {
    case regfile::ReadResult::Missing:
        loaded = cli::DefaultHandheld();
        created = true;
        return true;
    case regfile::ReadResult::Failed:
        std::fprintf(stderr, "%s: cannot be read: %s\n", path.c_str(), error.c_str());
        status = cli::kExitDataError;
        return false;
    case regfile::ReadResult::Ok:
        break;
    }
    if (auto fault = regfile::Load(bytes, loaded)) {
        std::fprintf(stderr, "%s:%zu: %s\n", path.c_str(), fault->line, fault->message.c_str());
        status = cli::kExitDataError;
        return false;
    }
    return true;
}

bool Serialize(const sim::Registry &registry, const regfile::Format &format, std::string &bytes,
               const std::string &target)
{
    std::string error;
    if (regfile::Save(registry, format, bytes, error))
        return true;
    std::fprintf(stderr, "sambrel: cannot save %s: %s\n", target.c_str(), error.c_str());
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    cli::ParseResult parsed = cli::ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.error.empty())
        return UsageError(parsed.error);
    const cli::Options &options = parsed.options;
    if (options.help) {
        std::fputs(cli::HelpText(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("sambrel 1.0\n");
        return 0;
    }

    bool terminal = isatty(STDIN_FILENO) && isatty(STDOUT_FILENO);
    if (!options.choose && !terminal)
        return UsageError("no terminal to show the dialog on; answer it with "
                          "--choose autoscan|com3|cancel|close");

    int status = 0;
    std::shared_ptr<cli::LoadedImage> image;
    if (options.image && !(image = cli::LoadImage(*options.image, status)))
        return status;

    regfile::Loaded loaded;
    bool created = false;
    if (!LoadRegistry(options, loaded, created, status))
        return status;
    std::string before;
    if (!Serialize(loaded.registry, loaded.format, before, options.registry ? *options.registry : "-"))
        return cli::kExitIoError;

    std::unique_ptr<sim::User> user;
    if (options.choose)
        user = std::make_unique<cli::ChoosingUser>(*options.choose, stdout);
    else
        user = std::make_unique<cli::TerminalUser>();

    // The handheld's resources are the program's own: the image's, or those
    // compiled with the program built in.
    std::optional<sim::Handheld> device;
    if (image)
        device.emplace(cli::ImageResources(*image), *user);
    else
        device.emplace(sim::kProgramResources, sim::kProgramResourcesSize, *user);
    sim::Handheld &handheld = *device;
    handheld.registry() = std::move(loaded.registry);
    for (const auto &fault : options.faults)
        handheld.faults().Add(fault);

    int result = 0;
    std::string fault;
    bool faulted = false;
    {
        sim::Handheld::Attach attach(handheld);
        if (image) {
            std::optional<int> r = cli::RunImage(*image, options.cpu, fault);
            faulted = !r;
            result = r.value_or(0);
        } else {
            WCHAR commandLine[] = u"";
            result = WinMain(handheld.Instance(), nullptr, commandLine, 1);
        }
    }
    if (faulted) {
        // Nothing is saved from a run that did not finish.
        user.reset();
        std::fprintf(stderr, "sambrel: %s: %s\n", options.image->c_str(), fault.c_str());
        return cli::kExitImageFault;
    }

    if (!options.choose) {
        // The terminal is given back before the summary is printed on it.
        user.reset();
        for (const auto &box : handheld.messages())
            std::printf("%s: %s\n", sim::Utf8(box.caption).c_str(), sim::Utf8(box.text).c_str());
    }
    PrintIrEntry(handheld.registry());
    std::fflush(stdout);

    std::string after;
    if (options.registry && !options.dryRun) {
        if (!Serialize(handheld.registry(), loaded.format, after, *options.registry))
            return cli::kExitIoError;
        std::string error;
        if ((created || after != before) && !regfile::ReplaceFile(*options.registry, after, error)) {
            std::fprintf(stderr, "sambrel: cannot save %s: %s\n", options.registry->c_str(), error.c_str());
            return cli::kExitIoError;
        }
    }
    if (options.exportTo) {
        if (after.empty() && !Serialize(handheld.registry(), loaded.format, after, *options.exportTo))
            return cli::kExitIoError;
        std::string error;
        bool ok = *options.exportTo == "-"
                      ? regfile::WriteAndFlush(STDOUT_FILENO, after, error)
                      : regfile::ReplaceFile(*options.exportTo, after, error);
        if (!ok) {
            std::fprintf(stderr, "sambrel: cannot export to %s: %s\n", options.exportTo->c_str(), error.c_str());
            return cli::kExitIoError;
        }
    }
    return result;
}
