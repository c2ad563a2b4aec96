// The signals a replacement holds back.
#include "savefile/held_signals.h"

#include "savefile/savefile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <initializer_list>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace savefile {

void EndingSignals(sigset_t &set)
{
    sigemptyset(&set);
    for (int s : {SIGHUP, SIGINT, SIGQUIT, SIGABRT, SIGUSR1, SIGUSR2, SIGPIPE, SIGALRM, SIGTERM, SIGSTKFLT,
                  SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGPOLL, SIGPWR})
        sigaddset(&set, s);
    for (int s = SIGRTMIN; s <= SIGRTMAX; ++s)
        sigaddset(&set, s);
}

std::vector<int> HeededSignals(const sigset_t &among)
{
    sigset_t ending;
    EndingSignals(ending);
    std::vector<int> heeded;
    for (int s = 1; s < NSIG; ++s) {
        struct sigaction action {};
        if (sigismember(&among, s) == 1 && sigismember(&ending, s) == 1 && sigaction(s, nullptr, &action) == 0 &&
            action.sa_handler != SIG_IGN)
            heeded.push_back(s);
    }
    return heeded;
}

HoldSignals::HoldSignals()
{
    sigset_t set;
    EndingSignals(set);
    sigprocmask(SIG_BLOCK, &set, &old_);
}

HoldSignals::~HoldSignals() { sigprocmask(SIG_SETMASK, &old_, nullptr); }

int HoldSignals::Pending()
{
    sigset_t pending;
    sigpending(&pending);
    std::vector<int> heeded = HeededSignals(pending);
    return heeded.empty() ? 0 : heeded.front();
}

bool WriteWhileHeld(int fd, std::string_view bytes, std::string &error)
{
    // The held signals that would act, told by a descriptor that becomes
    // readable when one comes (one ignored would stay pending, and wake the
    // wait for ever).
    sigset_t held, heeded;
    sigprocmask(SIG_BLOCK, nullptr, &held);
    sigemptyset(&heeded);
    std::vector<int> holding = HeededSignals(held);
    for (int s : holding)
        sigaddset(&heeded, s);
    int came = holding.empty() ? -1 : signalfd(-1, &heeded, SFD_CLOEXEC | SFD_NONBLOCK);
    bool ok = true;
    while (ok && !bytes.empty()) {
        if (int signal = HoldSignals::Pending()) {
            error = std::string("a signal came (") + strsignal(signal) + ")";
            ok = false;
            break;
        }
        struct pollfd wait[2] = {{fd, POLLOUT, 0}, {came, POLLIN, 0}};
        if (poll(wait, came >= 0 ? 2 : 1, -1) < 0) {
            if (errno == EINTR)
                continue;
            error = std::strerror(errno);
            ok = false;
            break;
        }
        if (wait[0].revents == 0)
            continue; // a signal came: told above
        // No more than a pipe takes at once once it has room, so that the
        // write itself does not wait.
        ssize_t n = write(fd, bytes.data(), std::min<size_t>(bytes.size(), PIPE_BUF));
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n < 0) {
            error = std::strerror(errno);
            ok = false;
            break;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    if (came >= 0)
        close(came);
    // A file system that writes back later (NFS) tells its errors as a
    // descriptor is closed: a copy is, and fd stays open.
    int copy = ok ? dup(fd) : -1;
    if (copy >= 0 && close(copy) != 0) {
        error = std::strerror(errno);
        ok = false;
    }
    return ok;
}

} // namespace savefile
