// The new file that replaces another, from its making to its renaming:
// written, given the old file's owner, permissions and attributes,
// flushed, named, then renamed over the target. Nothing can see it before
// it is named (an unnamed temporary file where the file system has them),
// and it is locked from its making until it is renamed and closed, so that
// a leftover, which nobody holds, is told from a file a live run is
// writing. Until Commit it goes again on any failure.
#ifndef SAMBREL_SAVEFILE_REPLACEMENT_H
#define SAMBREL_SAVEFILE_REPLACEMENT_H

#include "savefile/attributes.h"
#include "savefile/paths.h"
#include "savefile/savefile.h"

#include <functional>
#include <string>
#include <string_view>
#include <sys/stat.h>

namespace savefile {

// Writes all bytes to fd; false, with a reason, on any failure.
bool WriteAll(int fd, std::string_view bytes, std::string &error);
// Flushes what was written to fd to the disk (a full disk may show only
// here); a pipe or a terminal has nothing to flush.
bool Flush(int fd, std::string &error);

// Whether name (a file's name, without its folder) is what a new file is
// called from its naming to its renaming: ".sambrel-" and 8 lowercase hex
// digits. A file of that name may be taken for a killed save's leftover.
bool HasNewName(const char *name);
// The reason a file of this name (links followed) must not be saved:
// it is named as a new file is before it replaces another, and a later save
// in its folder could take it for a killed save's leftover. Empty when the
// name is free of that.
std::string NamedAsNewFile(const std::string &target);

class Replacement {
public:
    // The target is the entry name of the folder held as dirFd, which the
    // caller keeps open until the replacement is gone: every step is taken
    // in that folder, whatever a link to it leads to meanwhile. ownFile
    // tells a leftover of a killed save by its first bytes.
    Replacement(int dirFd, std::string name, std::function<bool(std::string_view head)> ownFile)
        : dirFd_(dirFd), target_(std::move(name)), ownFile_(std::move(ownFile))
    {
    }
    ~Replacement();
    Replacement(const Replacement &) = delete;
    Replacement &operator=(const Replacement &) = delete;

    // Makes the new file beside the target, once the leftovers of killed
    // saves there are gone: write gives it its bytes as they come, then it
    // takes old's owner, group, permissions (set-id bits dropped) and
    // attributes (without old, the permissions a new file gets), is flushed,
    // and is named beside the target: from then to Commit, the name is all a
    // SIGKILL can leave. The writing stops at the first block after which a
    // held signal waits (HoldSignals::Pending tells which).
    bool Make(const Writer &write, const struct stat *old, const Attributes &attributes, std::string &error);

    // Renames the new file over the target; with mustBeNew, only while the
    // target does not exist (taken meanwhile sets taken). The rename itself
    // is made durable with the folder.
    bool Commit(bool mustBeNew, bool &taken, std::string &error);

private:
    bool Create(std::string &error);
    // After the bytes: writing them would drop a file capability.
    bool TakeOver(const struct stat *old, const Attributes &attributes, std::string &error);
    bool Name(std::string &error);
    // A free name beside the target, given to the new file by take, which
    // fails with EEXIST where the name is taken (else what failed).
    bool FreeName(const std::function<bool(const std::string &name)> &take, const char *what, std::string &error);

    int dirFd_;
    std::string target_;
    std::function<bool(std::string_view head)> ownFile_;
    int fd_ = -1;
    std::string name_; // in the folder, set once it has one
    bool committed_ = false;
};

} // namespace savefile

#endif
