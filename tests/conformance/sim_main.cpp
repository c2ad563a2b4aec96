// The conformance checks on the simulated handheld.
#include "tests/conformance/conformance.h"
#include "platform/sim/public/handheld.h"
#include "platform/sim/public/program_resources.h"

#include <cstdio>

void ConformanceReport(const char *line)
{
    std::puts(line);
}

int main()
{
    sim::ScriptedUser user;
    sim::Handheld handheld(sim::kProgramResources, sim::kProgramResourcesSize, user);
    sim::Handheld::Attach attach(handheld);
    return RunConformance() == 0 ? 0 : 1;
}
