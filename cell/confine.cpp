// The child confines itself: descriptors, limits, capabilities, no new
// privileges, and the filter, in that order (the filter last, as it
// forbids the calls the others make).
#include "cell/confine.h"

#include "cell/build.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <linux/capability.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace cell {
namespace {

constexpr std::uint64_t kPage = 4096;

bool CloseOtherDescriptors(std::string &why)
{
    if (syscall(SYS_close_range, kResultsFd + 1, ~0u, 0) == 0)
        return true;
    // A kernel before 5.9: every descriptor the limit allows.
    struct rlimit open {};
    if (getrlimit(RLIMIT_NOFILE, &open) != 0 || open.rlim_cur == RLIM_INFINITY) {
        why = "cannot close the descriptors it inherited";
        return false;
    }
    for (rlim_t fd = kResultsFd + 1; fd < open.rlim_cur; ++fd)
        close(static_cast<int>(fd));
    return true;
}

// The address space the process holds now, found without /proc: the
// lowest limit under which one more page can still be mapped.
std::uint64_t AddressSpaceInUse()
{
    struct rlimit old {};
    getrlimit(RLIMIT_AS, &old);
    std::uint64_t low = 0, high = std::uint64_t(1) << 47; // all of x86-64's user space
    while (high - low > kPage) {
        std::uint64_t mid = low + (high - low) / 2;
        struct rlimit trial = {mid, old.rlim_max};
        setrlimit(RLIMIT_AS, &trial);
        void *page = mmap(nullptr, kPage, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (page != MAP_FAILED) {
            munmap(page, kPage);
            high = mid;
        } else {
            low = mid;
        }
    }
    setrlimit(RLIMIT_AS, &old);
    return high;
}

bool Limit(int resource, std::uint64_t value, const char *what, std::string &why)
{
    struct rlimit limit = {value, value};
    struct rlimit old {};
    if (getrlimit(resource, &old) == 0 && old.rlim_max != RLIM_INFINITY && old.rlim_max < value)
        limit = old; // lower already: kept
    if (setrlimit(resource, &limit) == 0)
        return true;
    why = std::string("cannot limit its ") + what + ": " + std::strerror(errno);
    return false;
}

bool SetLimits(std::string &why)
{
    struct rlimit cpu = {kCpuSeconds, kCpuSeconds + 1};
    if (setrlimit(RLIMIT_CPU, &cpu) != 0) {
        why = std::string("cannot limit its CPU time: ") + std::strerror(errno);
        return false;
    }
    return Limit(RLIMIT_CORE, 0, "core files", why) && Limit(RLIMIT_NOFILE, kResultsFd + 1 + (kBuildRules.sanitizers ? kSanitizerDescriptors : 0), "descriptors", why) &&
           Limit(RLIMIT_NPROC, 0, "processes", why) &&
           (!kBuildRules.limitFileSize || Limit(RLIMIT_FSIZE, 0, "file sizes", why)) &&
           (!kBuildRules.limitAddressSpace ||
            Limit(RLIMIT_AS, AddressSpaceInUse() + kAddressSpaceHeadroom, "address space", why));
}

// A call the filter stopped: the parent is told which (the kernel tells
// the parent only that SIGSYS ended the child), and the child ends by
// SIGSYS. Only async-signal-safe calls, and only those the filter allows.
void Forbidden(int signal, siginfo_t *info, void *)
{
    std::uint32_t call = static_cast<std::uint32_t>(info->si_syscall);
    const char frame[] = {kForbiddenTag, 4, 0, 0, 0, static_cast<char>(call), static_cast<char>(call >> 8),
                          static_cast<char>(call >> 16), static_cast<char>(call >> 24)};
    ssize_t ignored = write(kResultsFd, frame, sizeof frame);
    (void)ignored;
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigaction(signal, &fallback, nullptr);
    raise(signal); // held until this handler returns
}

bool CatchForbiddenCalls(std::string &why)
{
    struct sigaction action {};
    action.sa_sigaction = Forbidden;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    sigset_t sys;
    sigemptyset(&sys);
    sigaddset(&sys, SIGSYS);
    if (sigaction(SIGSYS, &action, nullptr) == 0 && sigprocmask(SIG_UNBLOCK, &sys, nullptr) == 0)
        return true;
    why = std::string("cannot catch SIGSYS: ") + std::strerror(errno);
    return false;
}

// Every capability given up, as a process run by root has them all: the
// filter allows few calls, and none of those may then do more than a
// user's could.
bool DropCapabilities(std::string &why)
{
    struct __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    struct __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capset, &header, none) == 0)
        return true;
    why = std::string("cannot give up its capabilities: ") + std::strerror(errno);
    return false;
}

} // namespace

bool Confine(const Needs &needs, std::string &why)
{
    if (!CloseOtherDescriptors(why) || !SetLimits(why) || !CatchForbiddenCalls(why) || !DropCapabilities(why))
        return false;
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        why = std::string("cannot give up new privileges: ") + std::strerror(errno);
        return false;
    }
    return InstallFilter(needs, why);
}

} // namespace cell
