// The handheld's image on the emulated StrongARM: the time of one whole run
// per scenario, the guest instructions it executes, and the instructions
// its served calls are counted for the host's work; and the whole command,
// `sambrel --image`, as a user runs it, its process and the image's.
#include "platform/sim/public/handheld.h"
#include "res/resource.h"
#include "ceimage/run_image.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const ceimage::PeImage *Image()
{
    static std::optional<ceimage::PeImage> image = [] {
        std::ifstream in(SAMBREL_WINCE_IMAGE, std::ios::binary);
        std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        std::string error;
        return ceimage::ReadPeImage(bytes, error);
    }();
    return image ? &*image : nullptr;
}

void ImageRun(benchmark::State &state, sim::DialogInput input)
{
    const ceimage::PeImage *image = Image();
    if (!image) {
        state.SkipWithError(SAMBREL_WINCE_IMAGE " is not built: cmake --preset wince && cmake --build --preset wince");
        return;
    }
    ceimage::RunResult run;
    for (auto _ : state) {
        sim::ScriptedUser user({input});
        sim::Handheld handheld(ceimage::ResourcesOf(*image), user);
        handheld.registry().SetValue(HKEY_LOCAL_MACHINE, u"Drivers\\Active\\01", u"Name", REG_SZ,
                                     {'C', 0, 'O', 0, 'M', 0, '1', 0, ':', 0, 0, 0});
        sim::Handheld::Attach attach(handheld);
        run = ceimage::RunImage(*image, {});
    }
    state.counters["guest_instructions"] = static_cast<double>(run.instructions);
    state.counters["host_work"] = static_cast<double>(run.hostWork);
}

// sambrel --choose CHOICE --image sambrel.exe, from its start to its end.
void ImageCommand(benchmark::State &state, const char *choice)
{
    if (!Image()) {
        state.SkipWithError(SAMBREL_WINCE_IMAGE " is not built: cmake --preset wince && cmake --build --preset wince");
        return;
    }
    const char *argv[] = {SAMBREL_COMMAND, "--choose", choice, "--image", SAMBREL_WINCE_IMAGE, nullptr};
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    for (auto _ : state) {
        pid_t pid = 0;
        int status = 0;
        if (posix_spawn(&pid, argv[0], &quiet, nullptr, const_cast<char **>(argv), environ) != 0 ||
            waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 1) {
            state.SkipWithError("sambrel --image did not run to its end (exit 1)");
            break;
        }
    }
    posix_spawn_file_actions_destroy(&quiet);
}

BENCHMARK_CAPTURE(ImageCommand, com3, "com3")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(ImageCommand, autoscan, "autoscan")->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_CAPTURE(ImageRun, autoscan, sim::DialogInput{sim::DialogInput::Click, IDC_AUTOSCAN})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ImageRun, com3, sim::DialogInput{sim::DialogInput::Click, IDC_COM3})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ImageRun, cancel, sim::DialogInput{sim::DialogInput::Click, IDCANCEL})->Unit(benchmark::kMillisecond);

} // namespace
