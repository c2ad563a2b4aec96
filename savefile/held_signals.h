// Signals that end a run are held back while a file is replaced, so that
// the replacement completes or never starts, and the status says which.
#ifndef SAMBREL_SAVEFILE_HELD_SIGNALS_H
#define SAMBREL_SAVEFILE_HELD_SIGNALS_H

#include <csignal>
#include <vector>

namespace savefile {

// The signals that end a process by default and that a replacement holds
// back: all of them but SIGKILL and SIGSTOP, which nothing can hold, and
// the faults a process raises on itself (SIGSEGV, SIGBUS, SIGILL, SIGFPE,
// SIGTRAP, SIGSYS), which must act at once.
void EndingSignals(sigset_t &set);

// Of the signals in among, in order, those that end the process and that it
// does not ignore: one ignored from the start (SIGHUP under nohup) stays
// ignored, and would not act once released.
std::vector<int> HeededSignals(const sigset_t &among);

class HoldSignals {
public:
    HoldSignals();
    ~HoldSignals();
    HoldSignals(const HoldSignals &) = delete;
    HoldSignals &operator=(const HoldSignals &) = delete;

    // A held signal that has come and will act once released (one the
    // process ignores will not), or 0.
    static int Pending();

private:
    sigset_t old_;
};

} // namespace savefile

#endif
