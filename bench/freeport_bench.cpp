// FindFreeComPort on the largest registry the scan reads: both trees at 100
// entries of 100 values, plus entries and values past both limits.
#include "platform/coredll.h"
#include "platform/sim/public/handheld.h"
#include "ports/ports.h"
#include "platform/sim/public/program_resources.h"
#include "text/codecs.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::vector<BYTE> Sz(const std::u16string &text)
{
    return text::Utf16Bytes(text);
}

std::u16string Numbered(const char16_t *prefix, int n)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%03d", n);
    std::u16string s = prefix;
    for (const char *p = buf; *p; ++p)
        s.push_back(static_cast<char16_t>(*p));
    return s;
}

void FillTree(sim::Registry &registry, const std::u16string &root)
{
    // 110 entries of 110 values: the scan reads 100 of each. Every value is
    // a text that starts like a port, so each one is compared in full.
    for (int i = 0; i < 110; ++i) {
        std::u16string entry = root + u"\\" + Numbered(u"e", i);
        for (int j = 0; j < 110; ++j)
            registry.SetValue(HKEY_LOCAL_MACHINE, entry, Numbered(u"v", j), REG_SZ,
                              Sz(j % 10 == 0 ? u"COM1:" : u"CONSOLE"));
    }
}

void BM_FindFreeComPortLargestRegistry(benchmark::State &state)
{
    sim::ScriptedUser user;
    sim::Handheld handheld(sim::kProgramResources, sim::kProgramResourcesSize, user);
    FillTree(handheld.registry(), u"Drivers\\Active");
    FillTree(handheld.registry(), u"ExtModems");
    sim::Handheld::Attach attach(handheld);
    for (auto _ : state)
        benchmark::DoNotOptimize(FindFreeComPort(5));
    state.counters["values_read"] = 2 * 100 * 100;
}
BENCHMARK(BM_FindFreeComPortLargestRegistry)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
