// A file held for a run: found, locked, read, and replaced only while it
// is still what was read.
#include "savefile/savefile.h"

#include "savefile/attributes.h"
#include "savefile/held_signals.h"
#include "savefile/paths.h"
#include "savefile/replacement.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

namespace savefile {
namespace {

void LockOrWait(int fd, const std::function<void()> &waiting)
{
    if (flock(fd, LOCK_EX | LOCK_NB) == 0)
        return;
    if (waiting)
        waiting();
    while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
}

// The timestamps' granularity, told from the timestamps themselves: whole
// seconds mean a file system that keeps no fractions (FAT has two
// seconds); fractions come from clocks that tick at least every 10 ms, and
// a tenth of a second leaves room for that and a clock a little behind.
struct timespec Granularity(const struct stat &st)
{
    if (st.st_mtim.tv_nsec == 0 && st.st_ctim.tv_nsec == 0)
        return {2, 0};
    return {0, 100000000};
}

bool Later(const struct timespec &a, const struct timespec &b)
{
    return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

constexpr int kMaxAttempts = 100;
constexpr Failure::Kind kUnreadable = Failure::Kind::Unreadable, kUnwritable = Failure::Kind::Unwritable;

// Whether the file's times lie within their granularity of now: a change
// after the read could then leave them as they are.
bool Racy(const struct stat &st, const struct timespec &now)
{
    struct timespec granularity = Granularity(st), since = now;
    since.tv_sec -= granularity.tv_sec;
    since.tv_nsec -= granularity.tv_nsec;
    if (since.tv_nsec < 0) {
        since.tv_nsec += 1000000000;
        since.tv_sec -= 1;
    }
    return Later(st.st_mtim, since) || Later(st.st_ctim, since);
}

// A descriptor the caller gave (/dev/fd/3) stands for the file it is open
// on, which is held and replaced by its name; one that is not open, or
// whose file has no name that leads to it (deleted, a pipe), is not a file
// to save. Its own entry in /proc is no file's name: sambrel's descriptors
// would come and go there. named is the name path stands for; false, with
// why, where it stands for no file.
bool NameOf(const std::string &path, std::string &named, std::string &why)
{
    named = path;
    std::string entry, error;
    int descriptor;
    if (!ResolveLinks(path, entry, error, &descriptor) || descriptor < 0)
        return true;
    struct stat opened, byName;
    std::vector<char> link(PATH_MAX + 1);
    ssize_t n = readlink(entry.c_str(), link.data(), PATH_MAX);
    if (fstat(descriptor, &opened) != 0)
        why = std::string("cannot be read: ") + std::strerror(errno);
    else if (!S_ISREG(opened.st_mode))
        why = "cannot be read: not a regular file";
    else if (n < 0 && errno == ENOENT)
        why = "cannot be read: without /proc, the name of the file it is open on cannot be found";
    if (!why.empty())
        return false;
    named.assign(link.data(), n > 0 ? static_cast<size_t>(n) : 0);
    if (n <= 0 || named[0] != '/' || stat(named.c_str(), &byName) != 0 || !SameInode(opened, byName)) {
        why = "cannot be read: its file has no name that leads to it";
        return false;
    }
    return true;
}

} // namespace

std::unique_ptr<HeldFile> HeldFile::Open(const std::string &path, bool forWriting, const Policy &policy,
                                         Failure &failure)
{
    std::unique_ptr<HeldFile> held(new HeldFile);
    held->shown_ = path;
    held->policy_ = policy;
    std::string named, why;
    if (!NameOf(path, named, why)) {
        held->Failed(failure, kUnreadable, why);
        return nullptr;
    }
    // Each new attempt follows a change another program made meanwhile,
    // and one that changes with every attempt is given up.
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        Opened opened = held->OpenOnce(named, forWriting, failure);
        if (opened == Opened::Held)
            return held;
        if (opened == Opened::Failed)
            return nullptr;
    }
    held->Failed(failure, kUnreadable, "cannot be read: it changed each time it was opened");
    return nullptr;
}

HeldFile::Opened HeldFile::Failed(Failure &failure, Failure::Kind kind, const std::string &message) const
{
    failure = {kind, 0, shown_ + ": " + message};
    return Opened::Failed;
}

HeldFile::Opened HeldFile::OpenOnce(const std::string &named, bool forWriting, Failure &failure)
{
    std::string error;
    if (!ResolveLinks(named, target_, error))
        return Failed(failure, kUnreadable, "cannot be read: " + error);
    dir_ = DirectoryOf(target_);
    name_ = BaseName(target_);
    if (name_.size() > NAME_MAX)
        return Failed(failure, forWriting ? kUnwritable : kUnreadable, std::strerror(ENAMETOOLONG));
    if (std::string why = NamedAsNewFile(target_); forWriting && !why.empty())
        return Failed(failure, kUnwritable, why);

    // The folder is held from here on, and the file is its entry: a link on
    // the way to it, switched later, changes nothing.
    if (dirFd_ >= 0)
        close(dirFd_);
    dirFd_ = HoldFolder(dir_);
    if (dirFd_ < 0 && errno != ENOENT)
        return Failed(failure, kUnreadable, std::string("cannot be read: ") + std::strerror(errno));
    // O_NONBLOCK: a FIFO must not hold the run up before it is refused.
    int fd = dirFd_ < 0 ? -1 : openat(dirFd_, name_.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == ELOOP)
        return Opened::Again; // it became a link meanwhile
    if (fd < 0 && errno != ENOENT)
        return Failed(failure, kUnreadable, std::string("cannot be read: ") + std::strerror(errno));
    return fd < 0 ? Create(forWriting, failure) : Hold(fd, forWriting, failure);
}

// Not there yet: it is created in its folder, which is held meanwhile so
// that two runs do not both create it.
HeldFile::Opened HeldFile::Create(bool forWriting, Failure &failure)
{
    existed_ = false;
    if (!forWriting)
        return Opened::Held;
    int dfd = dirFd_ < 0 ? -1 : openat(dirFd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0)
        return Failed(failure, kUnwritable, "cannot be created: its folder " + dir_ + ": " + std::strerror(errno));
    if (faccessat(dirFd_, ".", W_OK | X_OK, 0) != 0) {
        int e = errno;
        close(dfd);
        return Failed(failure, kUnwritable, "cannot be created in " + dir_ + ": " + std::strerror(e));
    }
    LockOrWait(dfd, policy_.waiting);
    struct stat now;
    if (fstatat(dirFd_, name_.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0) {
        close(dfd); // created by another run while this one waited
        return Opened::Again;
    }
    fd_ = dfd;
    return Opened::Held;
}

// There: a regular file, locked when it is to be written, and read from
// now on through fd.
HeldFile::Opened HeldFile::Hold(int fd, bool forWriting, Failure &failure)
{
    struct stat st;
    if (fstat(fd, &st) != 0) {
        int e = errno;
        close(fd);
        return Failed(failure, kUnreadable, std::string("cannot be read: ") + std::strerror(e));
    }
    if (!S_ISREG(st.st_mode)) {
        close(fd);
        return Failed(failure, kUnreadable, std::string("cannot be read: ") +
                                                (S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "not a regular file"));
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (forWriting) {
        std::string why;
        if (!Replaceable(dirFd_, name_, dir_, fd, st, true, why)) {
            close(fd);
            return Failed(failure, kUnwritable, why);
        }
        LockOrWait(fd, policy_.waiting);
        struct stat now;
        if (fstatat(dirFd_, name_.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 || !SameInode(now, st)) {
            close(fd); // replaced by another run while this one waited
            return Opened::Again;
        }
    }
    // What is read from here on is what the file is now: a change after
    // this moment is seen before the file is replaced. The clock is read
    // first, so that a change in the same tick of the file's times counts as
    // one within their granularity.
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    if (fstat(fd, &st) != 0) {
        int e = errno;
        close(fd);
        return Failed(failure, kUnreadable, std::string("cannot be read: ") + std::strerror(e));
    }
    racy_ = forWriting && Racy(st, now);
    existed_ = true;
    read_ = st;
    fd_ = fd;
    return Opened::Held;
}

HeldFile::~HeldFile()
{
    if (fd_ >= 0)
        close(fd_);
    if (dirFd_ >= 0)
        close(dirFd_);
}

bool HeldFile::IsNamedBy(const std::string &path) const
{
    std::string target, error;
    int descriptor; // leads to the file it is open on, named or not
    if (!ResolveLinks(path, target, error, &descriptor))
        return false;
    struct stat st;
    if (descriptor >= 0 ? fstat(descriptor, &st) == 0 : stat(target.c_str(), &st) == 0)
        return existed_ && SameInode(st, read_);
    // Neither exists: the same name in the same folder.
    struct stat dir, ours;
    return !existed_ && descriptor < 0 && BaseName(target) == name_ && stat(DirectoryOf(target).c_str(), &dir) == 0 &&
           dirFd_ >= 0 && fstat(dirFd_, &ours) == 0 && SameInode(dir, ours);
}

bool HeldFile::IsOpenAs(int fd) const
{
    struct stat st;
    return existed_ && fstat(fd, &st) == 0 && SameInode(st, read_);
}

// The file must still be what was read: the same inode, size and times
// (the change time moves with any write, chmod or attribute, and no one can
// set it back). Where the times cannot tell, because the file had changed
// within their granularity before it was read, the content is compared.
bool HeldFile::Unchanged(Failure &failure)
{
    auto changed = [&] {
        failure = {Failure::Kind::Changed, 0,
                   shown_ + ": changed by another program during the run; nothing was saved, and the other "
                            "change is kept"};
        return false;
    };
    struct stat now;
    if (fstatat(dirFd_, name_.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0)
        return (!existed_ && errno == ENOENT) || changed();
    if (!existed_ || !SameInode(now, read_) || now.st_size != read_.st_size ||
        !SameTimes(now.st_mtim, read_.st_mtim) || !SameTimes(now.st_ctim, read_.st_ctim))
        return changed();
    if (racy_) {
        // What the loader left unread counts as read.
        std::vector<char> buffer(kDigestBlock);
        ssize_t n;
        while ((n = read(fd_, buffer.data(), buffer.size())) > 0)
            digest_.Add(buffer.data(), static_cast<size_t>(n));
        Digest again;
        off_t at = 0;
        while ((n = pread(fd_, buffer.data(), buffer.size(), at)) > 0) {
            again.Add(buffer.data(), static_cast<size_t>(n));
            at += n;
        }
        if (n < 0 || !(again == digest_))
            return changed();
        // Changed while it was compared, in a part already compared.
        if (fstatat(dirFd_, name_.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 || !SameInode(now, read_) || now.st_size != read_.st_size ||
            !SameTimes(now.st_mtim, read_.st_mtim) || !SameTimes(now.st_ctim, read_.st_ctim))
            return changed();
    }
    return true;
}

bool HeldFile::Replace(const Writer &write, Failure &failure, const Steps &steps)
{
    HoldSignals hold;
    std::string error;
    auto unwritable = [&] {
        failure = {Failure::Kind::Unwritable, 0, shown_ + ": cannot save: " + error};
        return false;
    };
    auto signalled = [&](int signal) {
        failure = {Failure::Kind::Signalled, signal, shown_ + ": a signal came before it was saved; it is as it was"};
        return false;
    };
    Attributes attributes;
    if (existed_ && !ReadAttributes(fd_, target_, attributes, error))
        return unwritable();
    Replacement replacement(dirFd_, name_, policy_.ownFile);
    bool made = replacement.Make(write, existed_ ? &read_ : nullptr, attributes, error);
    if (int signal = HoldSignals::Pending())
        return signalled(signal);
    if (!made)
        return unwritable();
    if (steps.ready) {
        bool ready = steps.ready(error);
        if (int signal = HoldSignals::Pending())
            return signalled(signal);
        if (!ready) {
            failure = {Failure::Kind::Unwritable, 0, error};
            return false;
        }
    }
    // The last look, as close to the rename as it can be.
    if (!Unchanged(failure))
        return false;
    bool taken = false;
    if (!replacement.Commit(!existed_, taken, error))
        return taken ? Unchanged(failure) : unwritable(); // taken: made by someone else meanwhile
    if (steps.saved)
        steps.saved();
    return true;
}

size_t HeldFile::Size() const { return existed_ ? static_cast<size_t>(read_.st_size) : 0; }

bool HeldFile::Read(char *to, size_t capacity, size_t &got, std::string &error)
{
    got = 0;
    if (!existed_)
        return true;
    for (;;) {
        ssize_t n = read(fd_, to, capacity);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = std::strerror(errno);
            return false;
        }
        got = static_cast<size_t>(n);
        if (racy_)
            digest_.Add(to, got);
        return true;
    }
}

} // namespace savefile
