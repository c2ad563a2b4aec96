// A process of its own for work on untrusted input, as OpenSSH separates
// privileges: forked from sambrel, it keeps the standard descriptors and
// one pipe to its parent and confines itself before the work starts (every
// other descriptor closed, no new privileges, limits on memory, CPU time,
// files and processes, and a system-call filter that ends it on anything
// the work does not need). The parent keeps everything durable; what the
// child hands back through the pipe (cell/frames.h) is for it to doubt.
#ifndef SAMBREL_CELL_CELL_H
#define SAMBREL_CELL_CELL_H

#include "cell/frames.h"
#include "cell/needs.h"

#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>

namespace cell {

// Whether a child can be confined here: libseccomp can be loaded and the
// kernel filters system calls. The reason when it cannot.
bool Available(std::string &why);

// The longest a child that waits for no one (it has no terminal) may take
// from its start to its end, in time as the clock shows it: a child that
// sleeps uses no CPU time, which is limited too (to half of this, so that
// one that works, even on a busy machine, meets that limit first).
constexpr unsigned kUnattendedSeconds = 120;

// How the child ended, as the kernel tells it.
struct Ending {
    enum class Kind {
        Finished,   // its work returned
        Unconfined, // it could not confine itself, and did no work
        Abandoned,  // the parent stopped it, having stopped reading its frames
        TimedOut,   // waiting for no one, it did not end in time and was stopped
        Failed,     // anything else
    };
    Kind kind = Kind::Failed;
    // What happened, for Unconfined, TimedOut and Failed: "was ended by
    // SIGSEGV (Segmentation fault)", "made a system call its filter forbids
    // (openat)", "used its 60 seconds of CPU time", ...
    std::string what;
};

class Child {
public:
    // Forks. The child runs prepare first, unconfined (what needs files:
    // the terminal's description), then confines itself and runs work with
    // the pipe's writer; it never returns. In the parent: the child, or
    // nullptr with the reason.
    static std::unique_ptr<Child> Start(const Needs &needs, const std::function<void()> &prepare,
                                        const std::function<void(FrameWriter &)> &work, std::string &error);
    ~Child(); // a child still running is killed and waited for
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    pid_t Pid() const { return pid_; }
    // The child's next frame, of at most limit bytes; false at the end of
    // its frames, or with why (cut short, too large). Reading stops at a
    // frame the cell itself sends (a forbidden call, a confinement that
    // failed), which Wait tells; one that cannot be the cell's own is
    // refused as malformed. A child without the terminal is given
    // kUnattendedSeconds from its start to write all it writes.
    bool Next(Frame &frame, std::size_t limit, std::string &why);
    // Waits for the child to end (killing it first, when the parent has
    // stopped reading while it may still be writing, or when after a frame
    // of the cell's own it writes on or does not end within
    // kUnattendedSeconds) and tells how.
    Ending Wait();

private:
    Child(pid_t pid, int results) : pid_(pid), reader_(results), fd_(results) {}

    pid_t pid_;
    FrameReader reader_;
    int fd_;
    bool first_ = true;     // no frame has come yet
    bool ended_ = false;    // no more of its frames are read
    bool abandoned_ = false; // given up on while it may still be writing
    int forbidden_ = -1;    // the system call it said its filter stopped
    std::string unconfined_; // why it said it could not confine itself
};

} // namespace cell

#endif
