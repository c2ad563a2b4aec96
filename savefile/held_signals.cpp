// The signals a replacement holds back.
#include "savefile/held_signals.h"

#include "savefile/savefile.h"

#include <initializer_list>

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

HoldSignals::HoldSignals()
{
    sigset_t set;
    EndingSignals(set);
    sigprocmask(SIG_BLOCK, &set, &old_);
}

HoldSignals::~HoldSignals() { sigprocmask(SIG_SETMASK, &old_, nullptr); }

int HoldSignals::Pending()
{
    sigset_t pending, ending;
    sigpending(&pending);
    EndingSignals(ending);
    for (int s = 1; s < NSIG; ++s) {
        struct sigaction action {};
        if (sigismember(&pending, s) == 1 && sigismember(&ending, s) == 1 &&
            sigaction(s, nullptr, &action) == 0 && action.sa_handler != SIG_IGN)
            return s;
    }
    return 0;
}

} // namespace savefile
