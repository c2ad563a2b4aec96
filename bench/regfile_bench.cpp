// Loading and saving a generated registry file of mixed value types: 1 MiB
// (about 20,000 values) and 10 MiB, to show the cost grows in step with the
// size.
#include "regfile/regfile.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

namespace {

// A Version 5.00 file in UTF-8 of about `bytes` bytes, 100 values a key.
std::string Generate(size_t bytes, size_t &values)
{
    std::string out = "Windows Registry Editor Version 5.00\r\n\r\n";
    char line[160];
    values = 0;
    for (size_t key = 0; out.size() < bytes; ++key) {
        std::snprintf(line, sizeof line, "[HKEY_LOCAL_MACHINE\\Bench\\Key%05zu]\r\n", key);
        out += line;
        for (int v = 0; v < 100 && out.size() < bytes; ++v, ++values) {
            switch (v % 4) {
            case 0:
                std::snprintf(line, sizeof line, "\"String%02d\"=\"COM%d: a driver's text \\\\ \\\"%zu\\\"\"\r\n", v, v % 10, key);
                break;
            case 1:
                std::snprintf(line, sizeof line, "\"Dword%02d\"=dword:%08zx\r\n", v, key * 7919 + static_cast<size_t>(v));
                break;
            case 2:
                std::snprintf(line, sizeof line, "\"Binary%02d\"=hex:%02x,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12\r\n", v, v);
                break;
            default:
                std::snprintf(line, sizeof line, "\"Multi%02d\"=hex(7):61,00,62,00,00,00,63,00,00,00,00,00\r\n", v);
                break;
            }
            out += line;
        }
        out += "\r\n";
    }
    return out;
}

void BM_Load(benchmark::State &state)
{
    size_t values;
    std::string text = Generate(static_cast<size_t>(state.range(0)) << 20, values);
    for (auto _ : state) {
        regfile::Loaded loaded;
        if (regfile::Load(text, loaded))
            state.SkipWithError("the generated file did not load");
        benchmark::DoNotOptimize(loaded);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.counters["values"] = static_cast<double>(values);
}
BENCHMARK(BM_Load)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);

void BM_Save(benchmark::State &state)
{
    size_t values;
    std::string text = Generate(static_cast<size_t>(state.range(0)) << 20, values);
    regfile::Loaded loaded;
    if (regfile::Load(text, loaded))
        state.SkipWithError("the generated file did not load");
    std::string saved, error;
    for (auto _ : state) {
        regfile::Save(loaded.registry, loaded.format, saved, error);
        benchmark::DoNotOptimize(saved);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * saved.size()));
    state.counters["values"] = static_cast<double>(values);
}
BENCHMARK(BM_Save)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);

} // namespace
