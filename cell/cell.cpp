// The cell's child from fork to its end, and the parent's view of it.
#include "cell/cell.h"

#include "cell/confine.h"
#include "cell/seccomp_library.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <utility>
#include <algorithm>
#include <new>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace cell {
namespace {

std::string SignalName(int signal)
{
    const char *abbrev = sigabbrev_np(signal);
    const char *description = sigdescr_np(signal);
    std::string name = abbrev ? std::string("SIG") + abbrev : "signal " + std::to_string(signal);
    return description ? name + " (" + description + ")" : name;
}

std::string CallName(int call)
{
    std::string why;
    const Seccomp *seccomp = OpenSeccomp(why);
    char *name = seccomp ? seccomp->nameOf(SCMP_ARCH_NATIVE, call) : nullptr;
    std::string said = name ? name : "number " + std::to_string(call);
    std::free(name);
    return said;
}

// Whether the kernel says the process is under a system-call filter; false
// where it cannot be asked (no /proc).
bool Filtered(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("Seccomp:", 0) == 0)
            return line.find_first_of("123456789") != std::string::npos;
    return false;
}

// The parent's handlers are not the child's: every signal the parent
// heeds does to the child what it does by default (ends it), and the
// parent, which heeds them too, ends the child itself.
void DefaultSignals()
{
    for (int s = 1; s < NSIG; ++s) {
        struct sigaction old {};
        if (s != SIGKILL && s != SIGSTOP && sigaction(s, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
            std::signal(s, SIG_DFL);
    }
}

// The child, from fork on: it never returns.
[[noreturn]] void RunChild(pid_t parent, int results, const Needs &needs, const std::function<void()> &prepare,
                           const std::function<void(FrameWriter &)> &work)
{
    // It goes with its parent, even one killed by SIGKILL.
    if (prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0) != 0 || getppid() != parent)
        _exit(kUncaughtStatus);
    DefaultSignals();
    if (results != kResultsFd && (dup2(results, kResultsFd) != kResultsFd || close(results) != 0))
        _exit(kUncaughtStatus);
    FrameWriter writer(kResultsFd);
    int status = 0;
    try {
        prepare();
        std::string why;
        if (!Confine(needs, why)) {
            writer.Put(kUnconfinedTag, why.substr(0, kCellFrameLimit));
            _exit(0);
        }
        work(writer);
    } catch (const std::bad_alloc &) {
        status = kOutOfMemoryStatus;
    } catch (...) {
        status = kUncaughtStatus;
    }
    // Nothing of the parent's runs at exit: no buffers it left unflushed,
    // no leak check (which needs calls the filter forbids).
    _exit(status);
}

std::string Exited(int status)
{
    switch (status) {
    case kOutOfMemoryStatus:
        return "needed more memory than its limit (" + std::to_string(kAddressSpaceHeadroom >> 20) +
               " MiB more than it held as it started)";
    case kUncaughtStatus: return "failed on an error it did not expect";
    default: return "exited with status " + std::to_string(status);
    }
}

std::string Signalled(int signal, int forbidden, const struct rusage &usage)
{
    // SIGXCPU comes as the soft limit is reached, and SIGKILL a second
    // later to a child that goes on.
    if (signal == SIGXCPU ||
        (signal == SIGKILL && usage.ru_utime.tv_sec + usage.ru_stime.tv_sec >= static_cast<time_t>(kCpuSeconds)))
        return "used its " + std::to_string(kCpuSeconds) + " seconds of CPU time and was ended by " +
               SignalName(signal);
    switch (signal) {
    case SIGSYS:
        return "made a system call its filter forbids" +
               (forbidden >= 0 ? " (" + CallName(forbidden) + ")" : std::string()) + " and was ended";
    case SIGXFSZ: return "tried to write to a file, which it may not (SIGXFSZ)";
    default: return "was ended by " + SignalName(signal);
    }
}

} // namespace

bool Available(std::string &why)
{
    const Seccomp *seccomp = OpenSeccomp(why);
    if (!seccomp) {
        why = "libseccomp cannot be loaded: " + why;
        return false;
    }
    // A kernel without seccomp refuses even to say whether this process
    // is filtered.
    if (prctl(PR_GET_SECCOMP, 0, 0, 0, 0) < 0) {
        why = "this kernel does not filter system calls (seccomp): " + std::string(std::strerror(errno));
        return false;
    }
    return true;
}

std::unique_ptr<Child> Child::Start(const Needs &needs, const std::function<void()> &prepare,
                                    const std::function<void(FrameWriter &)> &work, std::string &error)
{
    int pipe[2];
    if (pipe2(pipe, O_CLOEXEC) != 0) {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        return nullptr;
    }
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        close(pipe[0]);
        RunChild(parent, pipe[1], needs, prepare, work);
    }
    close(pipe[1]);
    if (pid < 0) {
        error = std::string("cannot start a process: ") + std::strerror(errno);
        close(pipe[0]);
        return nullptr;
    }
    std::unique_ptr<Child> child(new Child(pid, pipe[0]));
    if (!needs.terminal)
        child->reader_.Deadline(std::chrono::steady_clock::now() + std::chrono::seconds(kUnattendedSeconds));
    return child;
}

Child::~Child()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    if (fd_ >= 0)
        close(fd_);
}

bool Child::Next(Frame &frame, std::size_t limit, std::string &why)
{
    why.clear();
    if (ended_)
        return false;
    // The cell's own frames are small, whatever the work's may be.
    ended_ = !reader_.Next(frame, std::max(limit, kCellFrameLimit), why);
    if (ended_) {
        abandoned_ = !reader_.AtEnd();
        return false;
    }
    const bool first = std::exchange(first_, false);
    if (frame.tag == kUnconfinedTag && (!first || Filtered(pid_))) {
        // Only a child that could not confine itself says so, before
        // anything else: one that says it after is confined, and lies.
        why = "its result holds a frame of the cell's own where none can be";
        ended_ = abandoned_ = true;
    } else if (frame.tag == kForbiddenTag && frame.payload.size() == 4) {
        auto b = reinterpret_cast<const unsigned char *>(frame.payload.data());
        forbidden_ = static_cast<int>(b[0] | b[1] << 8 | b[2] << 16 | std::uint32_t(b[3]) << 24);
        ended_ = true;
    } else if (frame.tag == kUnconfinedTag) {
        unconfined_ = frame.payload;
        ended_ = true;
    } else if (frame.payload.size() > limit) {
        why = FrameReader::TooLarge(frame.payload.size(), limit);
        ended_ = abandoned_ = true;
    }
    return !ended_;
}

Ending Child::Wait()
{
    // A child whose last frame was the cell's own (a forbidden call, a
    // confinement that failed) ends next, as the cell ends it; one that
    // writes on, or lingers, is stopped: it may only pretend to end, and
    // stop itself or wait for ever while sambrel holds the registry file.
    bool wroteOn = false;
    if (ended_ && !abandoned_ && !reader_.AtEnd()) {
        if (!reader_.HasDeadline())
            reader_.Deadline(std::chrono::steady_clock::now() + std::chrono::seconds(kUnattendedSeconds));
        wroteOn = !reader_.AwaitEnd() && !reader_.TimedOut();
    }
    const bool abandoned = !ended_ || abandoned_ || wroteOn || reader_.TimedOut();
    if (abandoned) // it may still be writing
        kill(pid_, SIGKILL);
    int status = 0;
    struct rusage usage {};
    while (wait4(pid_, &status, 0, &usage) < 0) {
        if (errno != EINTR)
            return {Ending::Kind::Failed, std::string("could not be waited for: ") + std::strerror(errno)};
    }
    pid_ = -1;
    if (reader_.TimedOut())
        return {Ending::Kind::TimedOut,
                "did not end within " + std::to_string(kUnattendedSeconds) + " seconds and was stopped"};
    if (wroteOn)
        return {Ending::Kind::Failed, "wrote on after a frame that ends what it writes, and was stopped"};
    if (abandoned)
        return {Ending::Kind::Abandoned, ""};
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return unconfined_.empty() ? Ending{Ending::Kind::Finished, ""} : Ending{Ending::Kind::Unconfined, unconfined_};
    if (WIFEXITED(status))
        return {Ending::Kind::Failed, Exited(WEXITSTATUS(status))};
    return {Ending::Kind::Failed, Signalled(WTERMSIG(status), forbidden_, usage)};
}

} // namespace cell
