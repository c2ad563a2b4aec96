#include "cli/program_run.h"

#include "cli/exit_status.h"
#include "cli/shown.h"
#include "cli/users.h"
#include "regfile/regfile.h"

#include <cstdlib>

namespace cli {

Transcript::Transcript() { stream_ = open_memstream(&buffer_, &size_); }

Transcript::~Transcript()
{
    if (stream_)
        std::fclose(stream_);
    std::free(buffer_);
}

std::FILE *Transcript::stream() { return stream_ ? stream_ : stdout; }

std::string Transcript::Take()
{
    std::fflush(stream_);
    return std::string(buffer_ ? buffer_ : "", size_);
}

std::unique_ptr<sim::User> MakeUser(const Options &options, std::FILE *printed)
{
    if (options.choose)
        return std::make_unique<ChoosingUser>(*options.choose, printed);
    return std::make_unique<TerminalUser>();
}

void RunOnHandheld(const Options &options, sim::Resources resources, registry::Tree registry, sim::User &user,
                   const Program &program, ProgramRun &run)
{
    sim::Handheld handheld(std::move(resources), user);
    handheld.registry().Adopt(std::move(registry));
    const std::uint64_t changesBefore = handheld.registry().Changes();
    for (const auto &fault : options.faults)
        handheld.faults().Add(fault);
    {
        sim::Handheld::Attach attach(handheld);
        std::string fault;
        std::optional<int> result = program(handheld, fault);
        if (!result) {
            run.status = kExitImageFault;
            run.error = fault;
            return;
        }
        run.result = *result;
    }
    run.changed = handheld.registry().Changes() != changesBefore;
    run.messages = handheld.messages();
    run.registry = std::move(handheld.registry());
    run.irEntry = IrEntry(run.registry);
}

std::string IrEntry(const sim::Registry &registry)
{
    const char kIrEntryPath[] = "HKEY_LOCAL_MACHINE\\ExtModems\\IR";
    const registry::RegKey *ir = registry.FindKey(HKEY_LOCAL_MACHINE, u"ExtModems\\IR");
    if (!ir)
        return std::string("There is no IR modem entry (") + kIrEntryPath + ").\n";
    return Shown(regfile::KeySection(kIrEntryPath, *ir), true);
}

} // namespace cli
