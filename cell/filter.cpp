// The child's system-call filter (libseccomp): one table of what it
// allows, each call with the argument it is held to. Anything else traps
// (SIGSYS, which ends the child and tells the parent which call it was);
// a call of another architecture's ABI ends it at once. Among what is not
// here: opening, creating, linking or removing files, sockets, running a
// program, fork and clone, signals to any other process, ptrace, and
// every terminal ioctl but getting its modes and reading its size: the
// modes are set before the filter (Ctrl-C left to end the run), never
// after, and TIOCSTI, which types into the shell behind sambrel, never.
#include "cell/confine.h"

#include "cell/build.h"
#include "cell/seccomp_library.h"

#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <termios.h>
#include <unistd.h>

namespace cell {
namespace {

// What an allowed call's argument must be.
enum class Held {
    Any,
    Descriptor, // its descriptor (argument 0) is the value
    Above,      // its descriptor (argument 0) is above the value
    MapOf,      // a mapping of a descriptor (argument 4) above the value
    OwnProcess, // its process (argument 0) is the child itself
    Request,    // its ioctl request (argument 1) is the value
    Command,    // its fcntl command (argument 1) is the value: never one that
                // makes the descriptor signal another process (F_SETOWN)
    Anonymous,  // a mapping of memory, not of a file (argument 3 has MAP_ANONYMOUS)
    ReadOnly,   // opening for reading only: argument value, the flags, has no O_WRONLY, O_RDWR,
                // O_CREAT, O_TRUNC or O_APPEND
};

enum class For {
    All,
    Terminal, // a dialog on the terminal
    Sanitizers, // the sanitizers' build (cell/build.h)
};

struct Allowed {
    int call;
    Held held;
    std::uint64_t value;
    For only = For::All;
};

const Allowed kAllowed[] = {
    // The results.
    {SCMP_SYS(write), Held::Descriptor, kResultsFd},
    // Memory.
    {SCMP_SYS(mmap), Held::Anonymous, 0},
    {SCMP_SYS(munmap), Held::Any, 0},
    {SCMP_SYS(mprotect), Held::Any, 0},
    {SCMP_SYS(mremap), Held::Any, 0},
    {SCMP_SYS(madvise), Held::Any, 0},
    {SCMP_SYS(brk), Held::Any, 0},
    {SCMP_SYS(futex), Held::Any, 0}, // locks, such as the unwinder's as an exception is thrown
    // Its own signals, and its end.
    {SCMP_SYS(rt_sigaction), Held::Any, 0},
    {SCMP_SYS(rt_sigprocmask), Held::Any, 0},
    {SCMP_SYS(rt_sigreturn), Held::Any, 0},
    {SCMP_SYS(sigaltstack), Held::Any, 0},
    {SCMP_SYS(restart_syscall), Held::Any, 0},
    {SCMP_SYS(getpid), Held::Any, 0},
    {SCMP_SYS(gettid), Held::Any, 0},
    {SCMP_SYS(kill), Held::OwnProcess, 0},
    {SCMP_SYS(tgkill), Held::OwnProcess, 0},
    {SCMP_SYS(exit), Held::Any, 0},
    {SCMP_SYS(exit_group), Held::Any, 0},
    // The dialog: keys, the screen, and the terminal's modes and size, read.
    {SCMP_SYS(read), Held::Descriptor, STDIN_FILENO, For::Terminal},
    {SCMP_SYS(write), Held::Descriptor, STDOUT_FILENO, For::Terminal},
    {SCMP_SYS(poll), Held::Any, 0, For::Terminal},
    {SCMP_SYS(ioctl), Held::Request, TCGETS, For::Terminal},
    {SCMP_SYS(ioctl), Held::Request, TIOCGWINSZ, For::Terminal},
    // The sanitizers' reports on standard error, and their pipes and
    // files of their own, read only.
    {SCMP_SYS(write), Held::Descriptor, STDERR_FILENO, For::Sanitizers},
    {SCMP_SYS(pipe2), Held::Any, 0, For::Sanitizers},
    {SCMP_SYS(open), Held::ReadOnly, 1, For::Sanitizers},
    {SCMP_SYS(openat), Held::ReadOnly, 2, For::Sanitizers},
    {SCMP_SYS(readlink), Held::Any, 0, For::Sanitizers},
    {SCMP_SYS(read), Held::Above, kResultsFd, For::Sanitizers},
    {SCMP_SYS(pread64), Held::Above, kResultsFd, For::Sanitizers},
    {SCMP_SYS(write), Held::Above, kResultsFd, For::Sanitizers},
    {SCMP_SYS(lseek), Held::Above, kResultsFd, For::Sanitizers},
    {SCMP_SYS(fcntl), Held::Command, F_GETFD, For::Sanitizers},
    {SCMP_SYS(fcntl), Held::Command, F_SETFD, For::Sanitizers},
    {SCMP_SYS(fcntl), Held::Command, F_GETFL, For::Sanitizers},
    {SCMP_SYS(fstat), Held::Above, kResultsFd, For::Sanitizers},
    {SCMP_SYS(newfstatat), Held::Any, 0, For::Sanitizers},
    {SCMP_SYS(mmap), Held::MapOf, kResultsFd, For::Sanitizers},
    {SCMP_SYS(close), Held::Above, kResultsFd, For::Sanitizers},
    {SCMP_SYS(ioctl), Held::Request, TCGETS, For::Sanitizers}, // whether standard error takes colours
};

bool Wanted(const Allowed &rule, const Needs &needs)
{
    switch (rule.only) {
    case For::All: return true;
    case For::Terminal: return needs.terminal;
    case For::Sanitizers: return kBuildRules.sanitizers;
    }
    return false;
}

// The argument comparison a row makes; false for none.
bool Comparison(const Allowed &rule, scmp_arg_cmp &cmp)
{
    const std::uint64_t k32 = 0xFFFFFFFF; // an int argument: its upper half is not the caller's
    switch (rule.held) {
    case Held::Any: return false;
    case Held::Descriptor: cmp = {0, SCMP_CMP_MASKED_EQ, k32, rule.value}; return true;
    case Held::Above: cmp = {0, SCMP_CMP_GT, rule.value, 0}; return true;
    case Held::OwnProcess: cmp = {0, SCMP_CMP_MASKED_EQ, k32, static_cast<std::uint64_t>(getpid())}; return true;
    case Held::Request:
    case Held::Command: cmp = {1, SCMP_CMP_MASKED_EQ, k32, rule.value}; return true;
    case Held::Anonymous: cmp = {3, SCMP_CMP_MASKED_EQ, MAP_ANONYMOUS, MAP_ANONYMOUS}; return true;
    case Held::MapOf: cmp = {4, SCMP_CMP_GT, rule.value, 0}; return true;
    case Held::ReadOnly:
        cmp = {static_cast<unsigned>(rule.value), SCMP_CMP_MASKED_EQ,
               O_ACCMODE | O_CREAT | O_TRUNC | O_APPEND, 0};
        return true;
    }
    return false;
}

} // namespace

bool InstallFilter(const Needs &needs, std::string &why)
{
    const Seccomp *seccomp = OpenSeccomp(why);
    if (!seccomp)
        return false;
    std::unique_ptr<void, void (*)(void *)> filter(seccomp->init(SCMP_ACT_TRAP), seccomp->release);
    if (!filter || seccomp->attrSet(filter.get(), SCMP_FLTATR_ACT_BADARCH, SCMP_ACT_KILL_PROCESS) != 0) {
        why = "libseccomp cannot make a filter";
        return false;
    }
    for (const Allowed &rule : kAllowed) {
        if (!Wanted(rule, needs))
            continue;
        scmp_arg_cmp cmp{};
        bool held = Comparison(rule, cmp);
        if (int rc = seccomp->ruleAdd(filter.get(), SCMP_ACT_ALLOW, rule.call, held ? 1 : 0, &cmp); rc < 0) {
            why = std::string("libseccomp refuses a rule of the filter: ") + std::strerror(-rc);
            return false;
        }
    }
    if (int rc = seccomp->load(filter.get()); rc < 0) {
        why = std::string("the kernel does not take a system-call filter: ") + std::strerror(-rc);
        return false;
    }
    return true;
}

} // namespace cell
