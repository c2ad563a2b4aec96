// sambrel: runs the program on a simulated handheld, in a terminal or
// answered from the command line, and shows the IR modem entry afterwards.
#include "default_handheld.h"
#include "handheld.h"
#include "options.h"
#include "program_resources.h"
#include "reg_text.h"
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
    std::printf("%s", cli::RegKeySection(kIrEntryPath, *ir).c_str());
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

    std::unique_ptr<sim::User> user;
    if (options.choose)
        user = std::make_unique<cli::ChoosingUser>(*options.choose, stdout);
    else
        user = std::make_unique<cli::TerminalUser>();

    sim::Handheld handheld(sim::kProgramResources, sim::kProgramResourcesSize, *user);
    cli::FillDefaultRegistry(handheld.registry());
    for (const auto &fault : options.faults)
        handheld.faults().Add(fault);

    int result;
    {
        sim::Handheld::Attach attach(handheld);
        WCHAR commandLine[] = u"";
        result = WinMain(handheld.Instance(), nullptr, commandLine, 1);
    }

    if (!options.choose) {
        // The terminal is given back before the summary is printed on it.
        user.reset();
        for (const auto &box : handheld.messages())
            std::printf("%s: %s\n", sim::Utf8(box.caption).c_str(), sim::Utf8(box.text).c_str());
    }
    PrintIrEntry(handheld.registry());
    return result;
}
