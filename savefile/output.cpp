// Outputs written whole: a regular file replaced, anything else written
// straight.
#include "savefile/savefile.h"

#include "savefile/attributes.h"
#include "savefile/held_signals.h"
#include "savefile/paths.h"
#include "savefile/replacement.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace savefile {

namespace {

// A terminal, a pipe or a device is written once the bytes are all made,
// and only if what opens is what was seen: a name switched meanwhile to a
// regular file would be written over in place, new bytes over the old
// tail. The open waits, as a shell's redirection does, for a FIFO's
// reader; a signal ends the wait, and the run, before anything is saved.
bool WriteStraight(const std::string &path, const struct stat &seen, const Writer &write, std::string &error)
{
    std::string bytes;
    bytes::StringSink gathered(bytes);
    if (!write(gathered, error))
        return false;
    int fd = open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    struct stat opened;
    bool ok = fstat(fd, &opened) == 0;
    if (!ok)
        error = Reason("fstat");
    else if (!SameInode(opened, seen) || (opened.st_mode & S_IFMT) != (seen.st_mode & S_IFMT)) {
        error = "it became another file while it was opened; nothing was written to it";
        ok = false;
    }
    ok = ok && WriteAll(fd, bytes, error) && Flush(fd, error);
    if (close(fd) != 0 && ok) {
        error = Reason("close");
        ok = false;
    }
    return ok;
}

// One of the process's own descriptors: written as it is, and left open.
bool WriteToDescriptor(int fd, const Writer &write, std::string &error)
{
    std::string bytes;
    bytes::StringSink gathered(bytes);
    return write(gathered, error) && WriteAll(fd, bytes, error) && Flush(fd, error);
}

bool OpenForWriting(int fd, std::string &error)
{
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0)
        error = std::strerror(errno);
    else if ((flags & O_ACCMODE) == O_RDONLY || (flags & O_PATH))
        error = "descriptor " + std::to_string(fd) + " is not open for writing";
    return error.empty();
}

// A folder held open for an output, closed with it.
struct HeldFolder {
    explicit HeldFolder(const std::string &dir) : fd(HoldFolder(dir)) {}
    ~HeldFolder()
    {
        if (fd >= 0)
            close(fd);
    }
    HeldFolder(const HeldFolder &) = delete;
    HeldFolder &operator=(const HeldFolder &) = delete;
    int fd;
};

} // namespace

bool CheckOutput(const std::string &path, std::string &error)
{
    std::string target;
    int descriptor;
    if (!ResolveLinks(path, target, error, &descriptor))
        return false;
    if (descriptor >= 0)
        return OpenForWriting(descriptor, error);
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        if (S_ISDIR(st.st_mode))
            error = std::strerror(EISDIR);
        else if (access(path.c_str(), W_OK) != 0)
            error = std::strerror(errno);
        return error.empty();
    }
    std::string dir = DirectoryOf(target), name = BaseName(target);
    if (name.size() > NAME_MAX) {
        error = std::strerror(ENAMETOOLONG);
        return false;
    }
    if (!(error = NamedAsNewFile(target)).empty())
        return false;
    HeldFolder folder(dir);
    if (folder.fd < 0 || fstatat(folder.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (folder.fd >= 0 && errno != ENOENT)
            error = std::strerror(errno);
        else if (folder.fd < 0 || faccessat(folder.fd, ".", W_OK | X_OK, 0) != 0)
            error = "its folder " + dir + ": " + std::strerror(errno);
        return error.empty();
    }
    return Replaceable(folder.fd, name, dir, -1, st, false, error);
}

bool ReplacesFileOf(const std::string &path, int fd)
{
    std::string target, error;
    int descriptor;
    struct stat named, opened;
    return ResolveLinks(path, target, error, &descriptor) && descriptor < 0 && stat(target.c_str(), &named) == 0 &&
           S_ISREG(named.st_mode) && fstat(fd, &opened) == 0 && SameInode(named, opened);
}

bool WriteOutput(const std::string &path, const Writer &write, const Policy &policy, std::string &error)
{
    std::string target;
    int descriptor;
    if (!ResolveLinks(path, target, error, &descriptor))
        return false;
    if (descriptor >= 0)
        return WriteToDescriptor(descriptor, write, error);
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        if (S_ISDIR(st.st_mode)) {
            error = std::strerror(EISDIR);
            return false;
        }
        return WriteStraight(path, st, write, error);
    }
    // Held from here on: a link on the way, switched later, changes nothing.
    HeldFolder folder(DirectoryOf(target));
    if (folder.fd < 0) {
        error = Reason(("its folder " + DirectoryOf(target)).c_str());
        return false;
    }
    std::string name = BaseName(target);
    HoldSignals hold;
    struct stat old;
    bool exists = fstatat(folder.fd, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists && !S_ISREG(old.st_mode)) {
        error = "it is no longer a regular file";
        return false;
    }
    Attributes attributes;
    if (exists && !ReadAttributesAt(folder.fd, name, old, attributes, error))
        return false;
    Replacement replacement(folder.fd, name, policy.ownFile);
    bool made = replacement.Make(write, exists ? &old : nullptr, attributes, error);
    if (int signal = HoldSignals::Pending()) {
        error = std::string("a signal came before it was written (") + strsignal(signal) + ")";
        return false;
    }
    if (!made)
        return false;
    bool taken = false;
    return replacement.Commit(false, taken, error);
}

} // namespace savefile
