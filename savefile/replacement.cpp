// The new file that replaces another, and the leftovers of killed saves.
#include "savefile/replacement.h"

#include "savefile/held_signals.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

namespace savefile {
namespace {

// A new file is named ".sambrel-" and 8 lowercase hex digits, whichever
// way it is made, and the next save in its folder tells a leftover by
// that name and more (RemoveLeftovers).
constexpr char kNewPrefix[] = ".sambrel-";
constexpr size_t kNewDigits = 8;

std::string NewName(std::random_device &random)
{
    char digits[kNewDigits + 1];
    std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(random()));
    return std::string(kNewPrefix) + digits;
}

} // namespace

bool HasNewName(const char *name)
{
    size_t prefix = sizeof kNewPrefix - 1;
    if (std::strncmp(name, kNewPrefix, prefix) != 0 || std::strlen(name) != prefix + kNewDigits)
        return false;
    for (size_t i = prefix; i < prefix + kNewDigits; ++i)
        if ((name[i] < '0' || name[i] > '9') && (name[i] < 'a' || name[i] > 'f'))
            return false;
    return true;
}

std::string NamedAsNewFile(const std::string &target)
{
    if (!HasNewName(BaseName(target).c_str()))
        return {};
    return "is named as a new file is until it replaces another (.sambrel- and 8 hex digits), and a later save "
           "in its folder could take it for what a killed save left and remove it; give it another name";
}

namespace {

// Removes the new files that runs killed between naming and renaming them
// left in the folder dirFd, and nothing else: a file of a new file's name, this user's,
// regular, of one link, not empty (a new file is locked before its first
// byte), locked by no one (a live run holds its new file locked until it is
// renamed and closed), and beginning as the program's files do.
void RemoveLeftovers(int dirFd, const std::function<bool(std::string_view head)> &ownFile)
{
    int listed = openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *folder = listed >= 0 ? fdopendir(listed) : nullptr;
    if (!folder) {
        if (listed >= 0)
            close(listed);
        return;
    }
    while (const dirent *entry = readdir(folder)) {
        const char *name = entry->d_name;
        struct stat seen;
        if (!HasNewName(name) || fstatat(dirFd, name, &seen, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(seen.st_mode) ||
            seen.st_uid != geteuid() || seen.st_nlink != 1 || seen.st_size <= 0)
            continue;
        int fd = openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat held, now;
        char head[128];
        ssize_t n = 0;
        if (fstat(fd, &held) == 0 && SameInode(held, seen) && held.st_nlink == 1 &&
            flock(fd, LOCK_EX | LOCK_NB) == 0 && (n = pread(fd, head, sizeof head, 0)) > 0 &&
            ownFile && ownFile(std::string_view(head, static_cast<size_t>(n))) &&
            fstatat(dirFd, name, &now, AT_SYMLINK_NOFOLLOW) == 0 && SameInode(now, held))
            unlinkat(dirFd, name, 0);
        close(fd);
    }
    closedir(folder);
}

// The new file's bytes, as the writer hands them out. A held signal that
// has come stops the writing: the run is to end by it, and need not wait
// for the rest.
class NewFileSink : public bytes::Sink {
public:
    explicit NewFileSink(int fd) : fd_(fd) {}
    bool Write(std::string_view bytes, std::string &error) override
    {
        if (!WriteAll(fd_, bytes, error))
            return false;
        if (HoldSignals::Pending()) {
            error = "a signal came";
            return false;
        }
        return true;
    }

private:
    int fd_;
};

} // namespace

bool WriteAll(int fd, std::string_view bytes, std::string &error)
{
    while (!bytes.empty()) {
        ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = Reason("write");
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

bool Flush(int fd, std::string &error)
{
    if (fsync(fd) != 0 && errno != EINVAL && errno != EROFS) {
        error = Reason("flush");
        return false;
    }
    return true;
}

Replacement::~Replacement()
{
    if (fd_ >= 0)
        close(fd_);
    if (!name_.empty() && !committed_)
        unlinkat(dirFd_, name_.c_str(), 0);
}

bool Replacement::Make(const Writer &write, const struct stat *old, const Attributes &attributes,
                       std::string &error)
{
    if (!Create(error))
        return false;
    NewFileSink sink(fd_);
    return write(sink, error) && TakeOver(old, attributes, error) && Flush(fd_, error) && Name(error);
}

bool Replacement::Create(std::string &error)
{
    RemoveLeftovers(dirFd_, ownFile_);
#ifdef O_TMPFILE
    // It is named later through its entry in /proc: where /proc is not
    // mounted (a chroot, a container), it could never be, and the new file
    // is named from the start instead.
    fd_ = openat(dirFd_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd_ >= 0 && ProcShows(fd_)) {
        flock(fd_, LOCK_EX);
        return true;
    }
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
#endif
    auto create = [&](const std::string &name) {
        fd_ = openat(dirFd_, name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd_ < 0)
            return false;
        flock(fd_, LOCK_EX);
        return true;
    };
    return FreeName(create, "cannot create a file beside it", error);
}

bool Replacement::TakeOver(const struct stat *old, const Attributes &attributes, std::string &error)
{
    mode_t mode;
    if (old) {
        mode = old->st_mode & 0777;
    } else {
        mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    if (old && (old->st_uid != geteuid() || old->st_gid != getegid()) &&
        fchown(fd_, old->st_uid, old->st_gid) != 0) {
        error = Reason("cannot keep the owner");
        return false;
    }
    if (fchmod(fd_, mode) != 0) {
        error = Reason("chmod");
        return false;
    }
    return !old || CarryAttributes(attributes, fd_, error);
}

bool Replacement::Name(std::string &error)
{
    if (!name_.empty())
        return true;
    std::string proc = "/proc/self/fd/" + std::to_string(fd_);
    auto link = [&](const std::string &name) {
        return linkat(AT_FDCWD, proc.c_str(), dirFd_, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
    };
    return FreeName(link, "cannot link the new file beside it", error);
}

bool Replacement::FreeName(const std::function<bool(const std::string &name)> &take, const char *what,
                           std::string &error)
{
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = NewName(random);
        if (take(name)) {
            name_ = name;
            return true;
        }
        if (errno != EEXIST) {
            error = Reason(what);
            return false;
        }
    }
    error = "cannot find a free name beside it";
    return false;
}

bool Replacement::Commit(bool mustBeNew, bool &taken, std::string &error)
{
    taken = false;
    int renamed;
    if (mustBeNew) {
        renamed = renameat2(dirFd_, name_.c_str(), dirFd_, target_.c_str(), RENAME_NOREPLACE);
        if (renamed != 0 && (errno == EINVAL || errno == ENOSYS)) {
            // A file system without the atomic check: the next best.
            struct stat st;
            if (fstatat(dirFd_, target_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
                errno = EEXIST;
            else
                renamed = renameat(dirFd_, name_.c_str(), dirFd_, target_.c_str());
        }
    } else {
        renamed = renameat(dirFd_, name_.c_str(), dirFd_, target_.c_str());
    }
    if (renamed != 0) {
        taken = errno == EEXIST;
        error = Reason("rename");
        return false;
    }
    committed_ = true;
    close(fd_); // flushed: closing it loses nothing, and frees its lock
    fd_ = -1;
    int synced = openat(dirFd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (synced >= 0) {
        fsync(synced);
        close(synced);
    }
    return true;
}

} // namespace savefile
