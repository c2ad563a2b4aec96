// Signals that end a run are held back while a file is replaced, so that
// the replacement completes or never starts, and the status says which.
#ifndef SAMBREL_SAVEFILE_HELD_SIGNALS_H
#define SAMBREL_SAVEFILE_HELD_SIGNALS_H

#include <csignal>

namespace savefile {

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
