// Registry files on disk, held for the length of a run: found through
// symbolic links, locked against other runs, read (in pieces) through the
// descriptor that holds the lock, and replaced only while they are still
// what was read. The person's file is always either the old one or the new one, the
// same file (same path, owner, group, permissions, ACL and extended
// attributes), no one else's change is overwritten, and no other file is
// touched.
#ifndef SAMBREL_SAVEFILE_SAVEFILE_H
#define SAMBREL_SAVEFILE_SAVEFILE_H

#include "regfile/regfile.h"
#include "savefile/digest.h"

#include <csignal>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <sys/stat.h>

namespace savefile {

// Why a file cannot be used, and the exit status that says so.
struct FileFailure {
    int status = 0; // 65 cannot be read, 74 cannot be written, 75 changed by someone else,
                    // 128 + n a signal n came before the file was replaced
    std::string message;
};

constexpr int kStatusUnreadable = 65;
constexpr int kStatusUnwritable = 74;
constexpr int kStatusChanged = 75;
constexpr int kStatusSignalled = 128; // plus the signal's number

// The signals that end a process by default and that a replacement holds
// back: all of them but SIGKILL and SIGSTOP, which nothing can hold, and
// the faults a process raises on itself (SIGSEGV, SIGBUS, SIGILL, SIGFPE,
// SIGTRAP, SIGSYS), which must act at once.
void EndingSignals(sigset_t &set);

class HeldFile : public regfile::ByteSource {
public:
    // Opens path for a run. Symbolic links are followed to the file they
    // name (which may not exist yet: it is then created there). Anything but
    // a regular file is refused without blocking. With forWriting, the file
    // and its folder must be writable by the real user, the file must have
    // one link, and an owner and attributes that a replacement can keep; all
    // of it is checked now, before anything runs. Another run on the same
    // file is waited for (said on stderr). The content is then read through
    // Read (none when the file does not exist).
    static std::unique_ptr<HeldFile> Open(const std::string &path, bool forWriting, FileFailure &failure);
    ~HeldFile() override;
    HeldFile(const HeldFile &) = delete;
    HeldFile &operator=(const HeldFile &) = delete;

    bool Existed() const { return existed_; }
    size_t Size() const override;
    bool Read(char *to, size_t capacity, size_t &got, std::string &error) override;
    // The file written to: the symbolic links' target.
    const std::string &Target() const { return target_; }
    // Whether path names this file: the same inode (through symbolic and
    // hard links), or, for a file not made yet, the same name in the same
    // folder once links are followed.
    bool IsNamedBy(const std::string &path) const;

    // Replaces the file with bytes, unless it changed since it was read
    // (75: checked just before the rename, by content where its times cannot
    // tell) or cannot be written (74); on failure the file is as it was.
    // Signals that end the process are held meanwhile: one that comes before
    // the rename abandons it (128 + n), and acts as the hold ends. saved runs
    // right after the rename, the signals still held, so that the caller can
    // say what a signal that comes later means.
    bool Replace(std::string_view bytes, FileFailure &failure, const std::function<void()> &saved = {});

private:
    HeldFile() = default;
    bool Unchanged(FileFailure &failure);

    std::string shown_;  // the name the user gave, for messages
    std::string target_; // where the file is
    std::string dir_;    // its folder
    int fd_ = -1;        // the open file, locked; or the folder, locked, when it does not exist
    bool existed_ = false;
    struct stat read_ {}; // identity and times of what was read
    // Changed within the times' granularity before it was read: a change
    // after the read could leave the times as they were, so what was read
    // is remembered as a digest.
    bool racy_ = false;
    Digest digest_;
};

// Writes all bytes to fd and flushes them to the disk; false with a reason
// on any failure (a full disk shows here).
bool WriteAndFlush(int fd, std::string_view bytes, std::string &error);

// Whether WriteExport could write path, found before anything runs: not a
// folder; a terminal, pipe or device writable by the real user; else a
// file (or a name not yet taken) in an existing, writable folder, itself
// writable, with an owner and attributes a replacement can keep.
bool CheckExport(const std::string &path, std::string &error);

// Writes bytes to path: a regular file (or a link to one, or a name not
// yet taken) is replaced atomically, keeping its owner, group, permissions,
// ACL and extended attributes; anything else (a terminal, a pipe,
// /dev/null) is written straight. A folder is refused.
bool WriteExport(const std::string &path, std::string_view bytes, std::string &error);

// Reads a whole regular file into bytes (regdump's use).
bool ReadWholeFile(const std::string &path, std::string &bytes, std::string &error);

} // namespace savefile

#endif
