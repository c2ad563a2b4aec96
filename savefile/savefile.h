// Files held for a run and saved whole: found through symbolic links,
// locked against other runs, read (in pieces) through the descriptor that
// holds the lock, and replaced only while they are still what was read. A
// person's file is always either the old one or the new one, the same file
// (same path, owner, group, permissions, ACL and extended attributes), no
// one else's change is overwritten, and no other file is touched. What the
// files hold is the caller's: this room knows nothing of their format.
#ifndef SAMBREL_SAVEFILE_SAVEFILE_H
#define SAMBREL_SAVEFILE_SAVEFILE_H

#include "bytes/source_sink.h"
#include "savefile/digest.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <sys/stat.h>

namespace savefile {

// Why a file cannot be used; the caller tells it by its own exit status.
struct Failure {
    enum class Kind {
        Unreadable, // it cannot be read, or is not a regular file
        Unwritable, // it cannot be written, or replaced keeping what it is
        Changed,    // another program changed it since it was read
        Signalled,  // a signal came before it was replaced
    };
    Kind kind = Kind::Unwritable;
    int signal = 0; // the signal, for Signalled
    std::string message;
};

// What the room needs to know of the program that uses it.
struct Policy {
    // Whether a file's first bytes are how the program's saved files begin:
    // a new file that a killed save left behind is removed only then.
    std::function<bool(std::string_view head)> ownFile;
    // Told that another run holds the file, before this one waits for it.
    std::function<void()> waiting;
};

// Writes a file's bytes to sink as they are made, so that they are never
// held whole; false, with a reason, when they cannot be made or the sink
// fails.
using Writer = std::function<bool(bytes::Sink &sink, std::string &error)>;

// What a replacement lets its caller do on the way. ready runs once the new
// file is whole, flushed and named, before the rename (the commit), the
// signals held: what must not be done unless the file is saved, but whose
// failure must leave the old file (standard output, whose error says the
// old file is kept). Its false, with a reason, abandons the new file
// (Unwritable); a signal that comes while it runs abandons it too
// (Signalled). saved runs right after the rename, the signals still held,
// so that the caller can say what a signal that comes later means.
struct Steps {
    std::function<bool(std::string &error)> ready;
    std::function<void()> saved;
};

class HeldFile : public bytes::Source {
public:
    // Opens path for a run. Symbolic links are followed to the file they
    // name (which may not exist yet: it is then created there). Anything but
    // a regular file is refused without blocking. With forWriting, the file
    // and its folder must be writable by the real user, the file must have
    // one link, and an owner and attributes that a replacement can keep; all
    // of it is checked now, before anything runs. Another run on the same
    // file is waited for (policy.waiting is told). The content is then read
    // through Read (none when the file does not exist).
    static std::unique_ptr<HeldFile> Open(const std::string &path, bool forWriting, const Policy &policy,
                                          Failure &failure);
    ~HeldFile() override;
    HeldFile(const HeldFile &) = delete;
    HeldFile &operator=(const HeldFile &) = delete;

    bool Existed() const { return existed_; }
    size_t Size() const override;
    bool Read(char *to, size_t capacity, size_t &got, std::string &error) override;
    // Whether path names this file: the same inode (through symbolic and
    // hard links), or, for a file not made yet, the same name in the same
    // folder once links are followed.
    bool IsNamedBy(const std::string &path) const;
    // Whether the descriptor fd (standard output) is open on this file.
    bool IsOpenAs(int fd) const;

    // Replaces the file with the bytes write gives, unless it changed since
    // it was read (Changed: checked just before the rename, by content where
    // its times cannot tell) or cannot be written (Unwritable); on failure
    // the file is as it was. Signals that end the process are held
    // meanwhile, the writing included: one that comes before the rename
    // stops the writing at the next block and abandons it (Signalled), and
    // acts as the hold ends. The new file is made, named and renamed in the
    // folder held since Open, whatever its path leads to by now. steps run
    // before and after the rename.
    bool Replace(const Writer &write, Failure &failure, const Steps &steps = {});

private:
    HeldFile() = default;
    // Open's steps: one attempt at the file its name leads to now holds it,
    // fails, or finds it changed by another program meanwhile (Again).
    enum class Opened { Held, Failed, Again };
    Opened OpenOnce(const std::string &named, bool forWriting, Failure &failure);
    Opened Create(bool forWriting, Failure &failure);
    Opened Hold(int fd, bool forWriting, Failure &failure);
    Opened Failed(Failure &failure, Failure::Kind kind, const std::string &message) const;
    bool Unchanged(Failure &failure);

    std::string shown_;  // the name the user gave, for messages
    std::string target_; // where the file is
    std::string dir_;    // its folder, for messages
    std::string name_;   // its name in the folder
    int dirFd_ = -1;     // the folder, held from Open on; -1 only when it does not exist
    int fd_ = -1;        // the open file, locked; or the folder, locked, when it does not exist
    bool existed_ = false;
    struct stat read_ {}; // identity and times of what was read
    // Changed within the times' granularity before it was read: a change
    // after the read could leave the times as they were, so what was read
    // is remembered as a digest.
    bool racy_ = false;
    Digest digest_;
    Policy policy_;
};

// Whether two names lead to one file: the same inode (through symbolic and
// hard links), or, where neither exists yet, the same name in the same
// folder once links are followed.
bool SameFile(const std::string &a, const std::string &b);

// Whether WriteOutput could write path, found before anything runs: not a
// folder; one of the process's descriptors (/dev/stdout, /dev/fd/N) open
// for writing; a terminal, pipe or device writable by the real user; else
// a file (or a name not yet taken) in an existing, writable folder, itself
// writable, with an owner and attributes a replacement can keep.
bool CheckOutput(const std::string &path, std::string &error);

// Whether WriteOutput(path) would replace the regular file that the
// descriptor fd (standard output) is open on: what fd writes would then go
// to the old file, which no name leads to once it is replaced. A name of
// one of the process's descriptors is not: it is written to that
// descriptor itself.
bool ReplacesFileOf(const std::string &path, int fd);

// Writes the bytes write gives to path: a regular file (or a link to one,
// or a name not yet taken) is replaced atomically as they come, in the
// folder its path led to when it was looked up, keeping its owner, group,
// permissions, ACL and extended attributes; anything else (a terminal, a
// pipe, /dev/null) is written straight once they are all made, so that a
// writer that fails leaves nothing half written there, and only if what
// opens is what was looked at (never a regular file written in place). A name that means
// one of the process's descriptors (/dev/stdout, /dev/fd/N) is written to
// that descriptor itself, whatever it is open on: never reopened, which
// would lose its O_APPEND, or make a new file of one since deleted. A
// folder is refused.
bool WriteOutput(const std::string &path, const Writer &write, const Policy &policy, std::string &error);

// Writes bytes to fd, standard output or error, while a replacement holds
// the signals that end the run (in Steps::ready): a held signal that comes
// while fd takes no more (a pipe nobody reads, a stopped terminal) stops
// the writing, so that the run can end by it rather than wait. Without a
// hold it is a plain write. An error a file system tells only as a
// descriptor is closed (NFS) is found too.
bool WriteWhileHeld(int fd, std::string_view bytes, std::string &error);

} // namespace savefile

#endif
