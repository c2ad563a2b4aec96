// --image on an emulated ARM processor. sambrel reads the file and checks
// what it can without reading the image's contents; the cell's child reads
// the image as the handheld's loader would, runs it (with the dialog on
// the terminal, or answered by --choose) and hands back what the run left.
#include "cli/image_program.h"

#include "cell/cell.h"
#include "cli/image_results.h"
#include "cli/options.h"
#include "cli/shown.h"
#include "cli/signals.h"
#include "cli/users.h"
#include "ceimage/cab_installer.h"
#include "ceimage/mspack_library.h"
#include "ceimage/run_image.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace cli {

struct LoadedImage {
    std::string path;
    std::vector<std::uint8_t> bytes; // not read by sambrel itself
};

namespace {

// The image file's bytes. It is opened once, without waiting (a FIFO
// nobody writes to opens at once), and only a regular file no larger than
// an image may be is read: a folder, a device or a FIFO is refused before
// a byte is read, as is a file too large.
std::optional<std::vector<std::uint8_t>> ReadImageFile(const std::string &path, int &status)
{
    auto refuse = [&](int code, const std::string &why) {
        std::fprintf(stderr, "sambrel: %s\n", Shown(path + ": " + why).c_str());
        status = code;
        return std::nullopt;
    };
    struct Descriptor {
        int fd;
        ~Descriptor()
        {
            if (fd >= 0)
                close(fd);
        }
    } file{open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
    struct stat st;
    if (file.fd < 0 || fstat(file.fd, &st) != 0)
        return refuse(kExitNoInput, std::string("cannot be read: ") + std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        return refuse(kExitDataError, S_ISDIR(st.st_mode) ? "not a regular file but a folder"
                                                          : "not a regular file (a device, FIFO or socket)");
    if (st.st_size > static_cast<off_t>(ceimage::kMaxImageBytes))
        return refuse(kExitDataError, "larger than an image may be (" +
                                          std::to_string(ceimage::kMaxImageBytes >> 20) + " MiB)");
    // The file may change while it is read: no more than the bound is
    // taken, and the reader refuses a file that grew past it.
    std::vector<std::uint8_t> bytes(static_cast<size_t>(st.st_size) + 1);
    size_t got = 0;
    while (got < bytes.size()) {
        ssize_t n = read(file.fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return refuse(kExitNoInput, std::string("cannot be read: ") + std::strerror(errno));
        if (n == 0)
            break;
        got += static_cast<size_t>(n);
    }
    bytes.resize(got);
    return bytes;
}


// The image in the bytes, an executable or the one program an installation
// cabinet installs; nullopt with why and the exit status (65, or 69 for a
// cabinet without its reader).
std::optional<ceimage::PeImage> ReadImage(const std::vector<std::uint8_t> &bytes, std::string &why, int &status)
{
    status = kExitDataError;
    if (!ceimage::IsCabinet(bytes))
        return ceimage::ReadPeImage(bytes, why);
    ceimage::CabinetProgram program = ceimage::ProgramInCabinet(bytes);
    if (!program.error.empty()) {
        why = program.error;
        status = program.unavailable ? kExitUnavailable : kExitDataError;
        return std::nullopt;
    }
    std::optional<ceimage::PeImage> image = ceimage::ReadPeImage(program.bytes, why);
    if (!image)
        why = program.member + ": " + why;
    return image;
}

// Runs the image on the handheld attached to this thread: WinMain's
// result, or nullopt after a fault of the image, with what happened.
std::optional<int> RunPe(const ceimage::PeImage &image, Cpu cpu, std::string &fault)
{
    ceimage::RunOptions options;
    switch (cpu) { // every processor --cpu names, and no other
    case Cpu::Sa1110: options.cpu = ceimage::Cpu::Sa1110; break;
    case Cpu::Pxa255: options.cpu = ceimage::Cpu::Pxa255; break;
    }
    try {
        int code = ceimage::RunImage(image, options).exitCode;
        // The run's exit status is the image's own only where it cannot be
        // taken for one of sambrel's (64 and above, and 128+n for a signal).
        if (code < 0 || code >= kExitUsage) {
            fault = "the image ended with exit code " + std::to_string(code) +
                    ", which could be taken for one of sambrel's own statuses (an image's run ends with 0 to " +
                    std::to_string(kExitUsage - 1) + ")";
            return std::nullopt;
        }
        return code;
    } catch (const ceimage::Fault &e) {
        fault = e.what();
        return std::nullopt;
    }
}

// Whether what the terminal sent ends with an answer to DA1: ESC [ ?, then
// digits and semicolons, then c.
bool EndsWithKindAnswer(const std::string &heard)
{
    if (heard.empty() || heard.back() != 'c')
        return false;
    std::size_t i = heard.size() - 1;
    while (i > 0 && (std::isdigit(static_cast<unsigned char>(heard[i - 1])) || heard[i - 1] == ';'))
        --i;
    return i >= 3 && heard.compare(i - 3, 3, "\033[?") == 0;
}

// What the image's process may have made the terminal answer (its kind,
// the cursor's place, its title, asked by escape sequences it wrote),
// read and dropped: sambrel asks the terminal its kind itself (DA1) once
// the process has ended, and the answers come in the order they were
// asked, so that everything before the last answer is the process's. A
// terminal that answers nothing costs a second.
void DropTerminalAnswers()
{
    struct termios given {};
    if (tcgetattr(STDIN_FILENO, &given) != 0)
        return;
    struct termios quiet = given;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    quiet.c_cc[VMIN] = 0;
    quiet.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    static const char kAsk[] = "\033[c";
    if (write(STDOUT_FILENO, kAsk, sizeof kAsk - 1) == sizeof kAsk - 1) {
        std::string heard;
        for (int wait = 1000;;) {
            struct pollfd in = {STDIN_FILENO, POLLIN, 0};
            char bytes[256];
            ssize_t n = poll(&in, 1, wait) > 0 ? read(STDIN_FILENO, bytes, sizeof bytes) : 0;
            if (n <= 0)
                break;
            heard.append(bytes, static_cast<size_t>(n));
            heard.erase(0, heard.size() > 64 ? heard.size() - 64 : 0);
            // Once an answer ends what came, a little longer for any after it.
            wait = EndsWithKindAnswer(heard) ? 50 : 1000;
        }
    }
    tcflush(STDIN_FILENO, TCIFLUSH);
    tcsetattr(STDIN_FILENO, TCSANOW, &given);
}

// The cell's work: everything that reads the image's bytes, confined.
// terminal is the user at the terminal, taken over before the filter, or
// null for --choose.
void RunInCell(const LoadedImage &loaded, const Options &options, registry::Tree registry,
               std::unique_ptr<sim::User> &terminal, cell::FrameWriter &out)
{
    std::string why;
    int status = 0;
    std::optional<ceimage::PeImage> image = ReadImage(loaded.bytes, why, status);
    if (!image)
        return SendRefusal(out, status, why);
    ProgramRun run;
    {
        Transcript printed;
        std::unique_ptr<sim::User> user = terminal ? std::move(terminal) : MakeUser(options, printed.stream());
        RunOnHandheld(options, ceimage::ResourcesOf(*image), std::move(registry), *user,
                      [&](sim::Handheld &, std::string &fault) { return RunPe(*image, options.cpu, fault); }, run);
        user.reset(); // the terminal is given back
        run.printed = printed.Take();
    }
    SendRun(out, run);
}

// What the run left, or why it left nothing, from how the child ended and
// what it handed back.
ProgramRun Judged(const LoadedImage &image, const cell::Ending &ending, bool taken, const std::string &why,
                  ProgramRun run)
{
    const std::string nothing = "; nothing was saved";
    const bool ended = ending.kind == cell::Ending::Kind::Failed || ending.kind == cell::Ending::Kind::TimedOut;
    if (ending.kind == cell::Ending::Kind::Unconfined) {
        run.status = kExitUnavailable;
        run.error = Shown("--image runs the image in a process of its own under a system-call filter, which "
                          "cannot be made here: " + ending.what);
    } else if (ended) {
        run.status = kExitImageFault;
        run.error = Shown(image.path + ": the image's process " + ending.what + nothing);
    } else if (!taken) {
        run.status = kExitImageFault;
        run.error = Shown(image.path + ": the image's process gave a result that cannot be used: " + why + nothing);
    } else if (run.status) {
        run.error = Shown(image.path + ": " + run.error);
    }
    return run;
}

} // namespace

std::shared_ptr<LoadedImage> LoadImage(const std::string &path, int &status)
{
    std::string why;
    if (!ceimage::EmulatorAvailable(why)) { // said before anything runs
        std::fprintf(stderr, "sambrel: --image needs the ARM emulator (libunicorn), which cannot be loaded: %s\n",
                     why.c_str());
        status = kExitUnavailable;
        return nullptr;
    }
    if (!cell::Available(why)) {
        std::fprintf(stderr, "sambrel: --image runs the image in a process of its own under a system-call filter "
                     "(seccomp), which cannot be made here: %s\n", why.c_str());
        status = kExitUnavailable;
        return nullptr;
    }
    std::optional<std::vector<std::uint8_t>> bytes = ReadImageFile(path, status);
    if (!bytes)
        return nullptr;
    // A cabinet's reader is loaded now, while it can be: the cell opens
    // no file. Whether it could be is the cell's to say.
    if (ceimage::IsCabinet(*bytes))
        ceimage::CabinetLibraryAvailable(why);
    return std::make_shared<LoadedImage>(LoadedImage{path, std::move(*bytes)});
}

ProgramRun RunImage(const LoadedImage &image, const Options &options, registry::Tree registry)
{
    ProgramRun run;
    const ResultLimits limits = LimitsFor(registry);
    const bool terminal = !options.choose;
    std::unique_ptr<sim::User> user; // the child's, at the terminal
    auto prepare = [&] {
        if (terminal) { // ncurses reads the terminal's description from files
            auto atTerminal = std::make_unique<TerminalUser>(TerminalUser::GivenBack::BySambrel);
            atTerminal->Start();
            user = std::move(atTerminal);
        }
    };
    auto work = [&](cell::FrameWriter &out) { RunInCell(image, options, std::move(registry), user, out); };
    if (terminal)
        RememberTerminal(); // for a child that leaves it otherwise
    std::string why;
    std::unique_ptr<cell::Child> child = cell::Child::Start({terminal}, prepare, work, why);
    if (!child) {
        run.status = kExitUnavailable;
        run.error = Shown("--image cannot start the image's process: " + why);
        return run;
    }
    EndChildWithRun(child->Pid());
    bool taken = TakeRun(*child, limits, run, why) && (run.status || KeptFrom(registry, limits, run, why));
    cell::Ending ending = child->Wait();
    EndChildWithRun(0);
    if (terminal) {
        // However the image's process ended, the terminal is given back
        // as sambrel found it (the process never does so itself), and
        // nothing the process made the terminal answer is left for the
        // shell to read as typed.
        GiveBackTerminal(true);
        DropTerminalAnswers();
    }
    ForgetTerminal();
    return Judged(image, ending, taken, why, std::move(run));
}

} // namespace cli
