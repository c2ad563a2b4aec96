// Registry files on disk: held, read and replaced safely.
#include "savefile/savefile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <initializer_list>
#include <random>
#include <sys/file.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace savefile {
namespace {

constexpr int kMaxLinkHops = 40;

std::string Reason(const char *what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

std::string DirectoryOf(const std::string &path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string &path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows symbolic links from path to the name of what they lead to, which
// need not exist.
bool ResolveLinks(const std::string &path, std::string &target, std::string &error)
{
    std::string p = path;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat st;
        if (lstat(p.c_str(), &st) != 0) {
            if (errno == ENOENT || errno == ENAMETOOLONG) {
                target = p;
                return true;
            }
            error = std::strerror(errno);
            return false;
        }
        if (!S_ISLNK(st.st_mode)) {
            target = p;
            return true;
        }
        std::vector<char> link(PATH_MAX + 1);
        ssize_t n = readlink(p.c_str(), link.data(), PATH_MAX);
        if (n < 0) {
            error = std::strerror(errno);
            return false;
        }
        std::string next(link.data(), static_cast<size_t>(n));
        p = next[0] == '/' ? next : DirectoryOf(p) + "/" + next;
    }
    error = std::strerror(ELOOP);
    return false;
}

bool SameInode(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool SameTimes(const struct timespec &a, const struct timespec &b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Signals that end a run are held back while a file is replaced, so that
// the replacement completes or never starts, and the status says which.
class HoldSignals {
public:
    HoldSignals()
    {
        sigset_t set;
        EndingSignals(set);
        sigprocmask(SIG_BLOCK, &set, &old_);
    }
    ~HoldSignals() { sigprocmask(SIG_SETMASK, &old_, nullptr); }

    // A held signal that has come and will act once released (one the
    // process ignores will not), or 0.
    static int Pending()
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

private:
    sigset_t old_;
};

bool InGroup(gid_t gid)
{
    if (gid == getegid())
        return true;
    int n = getgroups(0, nullptr);
    std::vector<gid_t> groups(static_cast<size_t>(n > 0 ? n : 0));
    if (n > 0)
        n = getgroups(n, groups.data());
    for (int i = 0; i < n; ++i)
        if (groups[static_cast<size_t>(i)] == gid)
            return true;
    return false;
}

// Whether a replacement made by this process can keep the file's owner
// and group.
bool CanKeepOwner(const struct stat &st, std::string &why)
{
    if (geteuid() == 0)
        return true;
    if (st.st_uid != geteuid()) {
        why = "it belongs to another user, and a replacement would change its owner";
        return false;
    }
    if (!InGroup(st.st_gid)) {
        why = "its group is not one of yours, and a replacement would change it";
        return false;
    }
    return true;
}

void LockOrWait(int fd, const std::string &shown)
{
    if (flock(fd, LOCK_EX | LOCK_NB) == 0)
        return;
    std::fprintf(stderr, "sambrel: %s is in use by another run of sambrel; waiting for it to finish\n",
                 shown.c_str());
    while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
}

// --- Extended attributes -------------------------------------------------

// A file's extended attributes, its POSIX ACL (system.posix_acl_access)
// among them, as this process may see them.
using Attributes = std::vector<std::pair<std::string, std::string>>;

constexpr char kAccessAcl[] = "system.posix_acl_access";

// From the open file fd, or, when fd is -1, from path itself (not
// followed). A file system without attributes has none.
bool ReadAttributes(int fd, const std::string &path, Attributes &out, std::string &error)
{
    auto list = [&](char *to, size_t size) {
        return fd >= 0 ? flistxattr(fd, to, size) : llistxattr(path.c_str(), to, size);
    };
    auto get = [&](const char *name, void *to, size_t size) {
        return fd >= 0 ? fgetxattr(fd, name, to, size) : lgetxattr(path.c_str(), name, to, size);
    };
    out.clear();
    std::vector<char> names;
    for (;;) {
        ssize_t n = list(nullptr, 0);
        if (n < 0 && (errno == ENOTSUP || errno == ENOSYS))
            return true;
        if (n >= 0) {
            names.resize(static_cast<size_t>(n));
            n = list(names.data(), names.size());
        }
        if (n >= 0) {
            names.resize(static_cast<size_t>(n));
            break;
        }
        if (errno != ERANGE) { // ERANGE: the list grew meanwhile
            error = Reason("cannot list its attributes");
            return false;
        }
    }
    for (size_t at = 0; at < names.size(); at += std::strlen(&names[at]) + 1) {
        const char *name = &names[at];
        std::string value;
        for (;;) {
            ssize_t n = get(name, nullptr, 0);
            if (n >= 0) {
                value.resize(static_cast<size_t>(n));
                n = get(name, value.data(), value.size());
            }
            if (n >= 0) {
                value.resize(static_cast<size_t>(n));
                out.emplace_back(name, value);
                break;
            }
            if (errno == ENODATA) // removed meanwhile
                break;
            if (errno != ERANGE) {
                error = std::string("cannot read its attribute ") + name + ": " + std::strerror(errno);
                return false;
            }
        }
    }
    return true;
}

// Gives the new file fd the old file's attributes, as a careful copy does.
// An access ACL the new file took from its folder's default ACL goes, since
// the old file had none. One this process may not set fails the whole.
bool CarryAttributes(const Attributes &attributes, int fd, std::string &error)
{
    bool hadAcl = false;
    for (const auto &[name, value] : attributes) {
        hadAcl = hadAcl || name == kAccessAcl;
        std::string now(value.size(), '\0');
        if (fgetxattr(fd, name.c_str(), now.data(), now.size()) == static_cast<ssize_t>(value.size()) &&
            now == value)
            continue; // given already (a security label the folder gives)
        if (fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) != 0) {
            error = "cannot keep its attribute " + name + ": " + std::strerror(errno);
            return false;
        }
    }
    if (!hadAcl && fremovexattr(fd, kAccessAcl) != 0 && errno != ENODATA && errno != ENOTSUP) {
        error = Reason("cannot leave out its folder's default ACL");
        return false;
    }
    return true;
}

// --- The new file --------------------------------------------------------

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

// Whether head is how a registry file that Save writes begins: its header,
// in each encoding.
bool BeginsAsRegistryFile(std::string_view head)
{
    static const std::vector<std::string> beginnings = [] {
        std::vector<std::string> all;
        for (regfile::Encoding encoding : {regfile::Encoding::Regedit4, regfile::Encoding::Utf16, regfile::Encoding::Utf8,
                                              regfile::Encoding::Utf8Bom}) {
            std::string bytes, error;
            if (regfile::Save(registry::Tree(), regfile::Format{encoding, regfile::LineEnd::Lf}, bytes, error))
                all.push_back(bytes.substr(0, bytes.find('\n')));
        }
        return all;
    }();
    for (const std::string &beginning : beginnings)
        if (head.substr(0, beginning.size()) == beginning)
            return true;
    return false;
}

// Removes the new files that runs killed between naming and renaming them
// left in dir, and nothing else: a file of a new file's name, this user's,
// regular, of one link, not empty (a new file is locked before its first
// byte), locked by no one (a live run holds its new file locked until it is
// renamed and closed), and beginning as a registry file does.
void RemoveLeftovers(const std::string &dir)
{
    DIR *folder = opendir(dir.c_str());
    if (!folder)
        return;
    int dirFd = dirfd(folder);
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
            BeginsAsRegistryFile(std::string_view(head, static_cast<size_t>(n))) &&
            fstatat(dirFd, name, &now, AT_SYMLINK_NOFOLLOW) == 0 && SameInode(now, held))
            unlinkat(dirFd, name, 0);
        close(fd);
    }
    closedir(folder);
}

// A new file beside the target, from its making to its renaming: written,
// given the old file's owner, permissions and attributes, flushed, named,
// then renamed over the target. Nothing can see it before it is named (an
// unnamed temporary file where the file system has them), and it is locked
// from its making until it is renamed and closed, so that a leftover, which
// nobody holds, is told from a file a live run is writing. Until Commit it
// goes again on any failure.
class Replacement {
public:
    explicit Replacement(std::string target) : target_(std::move(target)), dir_(DirectoryOf(target_)) {}
    ~Replacement()
    {
        if (fd_ >= 0)
            close(fd_);
        if (!name_.empty() && !committed_)
            unlink(name_.c_str());
    }
    Replacement(const Replacement &) = delete;
    Replacement &operator=(const Replacement &) = delete;

    bool Create(std::string &error)
    {
        RemoveLeftovers(dir_);
#ifdef O_TMPFILE
        fd_ = open(dir_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        if (fd_ >= 0) {
            flock(fd_, LOCK_EX);
            return true;
        }
#endif
        std::random_device random;
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = dir_ + "/" + NewName(random);
            fd_ = open(name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (fd_ >= 0) {
                name_ = name;
                flock(fd_, LOCK_EX);
                return true;
            }
            if (errno != EEXIST) {
                error = Reason("cannot create a file beside it");
                return false;
            }
        }
        error = "cannot find a free name beside it";
        return false;
    }

    bool Write(std::string_view bytes, std::string &error)
    {
        while (!bytes.empty()) {
            ssize_t n = write(fd_, bytes.data(), bytes.size());
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

    // With old, its owner, group, permissions (set-id bits dropped) and
    // attributes; without, the permissions a new file gets. After the
    // bytes: writing them would drop a file capability.
    bool TakeOver(const struct stat *old, const Attributes &attributes, std::string &error)
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

    bool Flush(std::string &error)
    {
        if (fsync(fd_) != 0 && errno != EINVAL && errno != EROFS) {
            error = Reason("flush");
            return false;
        }
        return true;
    }

    // Named beside the target: from here to Commit, the name is all a
    // SIGKILL can leave.
    bool Name(std::string &error)
    {
        if (!name_.empty())
            return true;
        std::string proc = "/proc/self/fd/" + std::to_string(fd_);
        std::random_device random;
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = dir_ + "/" + NewName(random);
            if (linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                name_ = name;
                return true;
            }
            if (errno != EEXIST) {
                error = Reason("cannot link the new file beside it");
                return false;
            }
        }
        error = "cannot find a free name beside it";
        return false;
    }

    // Renames the new file over the target; with mustBeNew, only while the
    // target does not exist (taken meanwhile sets taken). The rename itself
    // is made durable with the folder.
    bool Commit(bool mustBeNew, bool &taken, std::string &error)
    {
        taken = false;
        int renamed;
        if (mustBeNew) {
            renamed = renameat2(AT_FDCWD, name_.c_str(), AT_FDCWD, target_.c_str(), RENAME_NOREPLACE);
            if (renamed != 0 && (errno == EINVAL || errno == ENOSYS)) {
                // A file system without the atomic check: the next best.
                struct stat st;
                if (lstat(target_.c_str(), &st) == 0)
                    errno = EEXIST;
                else
                    renamed = rename(name_.c_str(), target_.c_str());
            }
        } else {
            renamed = rename(name_.c_str(), target_.c_str());
        }
        if (renamed != 0) {
            taken = errno == EEXIST;
            error = Reason("rename");
            return false;
        }
        committed_ = true;
        close(fd_); // flushed: closing it loses nothing, and frees its lock
        fd_ = -1;
        int dirFd = open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirFd >= 0) {
            fsync(dirFd);
            close(dirFd);
        }
        return true;
    }

    int Fd() const { return fd_; }

private:
    std::string target_;
    std::string dir_;
    int fd_ = -1;
    std::string name_; // set once it has one
    bool committed_ = false;
};

// Whether a replacement of the file old, in dir, could carry its
// attributes: tried on a new file there that nothing sees and that goes as
// it is closed. Where the file system has no such files, saving finds out.
bool CanCarryAttributes(const std::string &dir, const struct stat &old, const Attributes &attributes,
                        std::string &error)
{
    if (attributes.empty())
        return true;
#ifdef O_TMPFILE
    int fd = open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0)
        return true;
    bool ok = (old.st_uid == geteuid() && old.st_gid == getegid()) || fchown(fd, old.st_uid, old.st_gid) == 0;
    if (!ok)
        error = Reason("cannot keep the owner");
    ok = ok && CarryAttributes(attributes, fd, error);
    close(fd);
    return ok;
#else
    return true;
#endif
}

// Whether a regular file at target, in dir, can be replaced by this
// process as it is: writable by the real user, in a writable folder, of
// one link where oneLink asks, with an owner and attributes a replacement
// keeps (read from fd, or from target when fd is -1).
bool Replaceable(const std::string &target, const std::string &dir, int fd, const struct stat &st, bool oneLink,
                 std::string &why)
{
    Attributes attributes;
    if (access(target.c_str(), W_OK) != 0)
        why = std::string("cannot be written: ") + std::strerror(errno);
    else if (access(dir.c_str(), W_OK | X_OK) != 0)
        why = "cannot be replaced: its folder " + dir + ": " + std::strerror(errno);
    else if (oneLink && st.st_nlink > 1)
        why = "has " + std::to_string(st.st_nlink) +
              " hard links; a replacement would break them, and writing it in place could "
              "leave it half written";
    else if (!CanKeepOwner(st, why) || !ReadAttributes(fd, target, attributes, why) ||
             !CanCarryAttributes(dir, st, attributes, why))
        why = "cannot be replaced: " + why;
    return why.empty();
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

} // namespace

void EndingSignals(sigset_t &set)
{
    sigemptyset(&set);
    for (int s : {SIGHUP, SIGINT, SIGQUIT, SIGABRT, SIGUSR1, SIGUSR2, SIGPIPE, SIGALRM, SIGTERM, SIGSTKFLT,
                  SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGPOLL, SIGPWR})
        sigaddset(&set, s);
    for (int s = SIGRTMIN; s <= SIGRTMAX; ++s)
        sigaddset(&set, s);
}

// Whole blocks are summed by the standard library's hash of bytes; a block
// split over two reads is put together first.
constexpr size_t kDigestBlock = 64 * 1024;

void Digest::Block(std::string_view block)
{
    sum_ = (sum_ ^ std::hash<std::string_view>()(block)) * 0x100000001b3u;
}

void Digest::Add(const char *bytes, size_t size)
{
    size_ += size;
    std::string_view in(bytes, size);
    if (!pending_.empty()) {
        size_t take = std::min(kDigestBlock - pending_.size(), in.size());
        pending_.append(in.substr(0, take));
        in.remove_prefix(take);
        if (pending_.size() < kDigestBlock)
            return;
        Block(pending_);
        pending_.clear();
    }
    for (; in.size() >= kDigestBlock; in.remove_prefix(kDigestBlock))
        Block(in.substr(0, kDigestBlock));
    pending_.assign(in);
}

bool Digest::operator==(const Digest &other) const
{
    return sum_ == other.sum_ && size_ == other.size_ && pending_ == other.pending_;
}

std::unique_ptr<HeldFile> HeldFile::Open(const std::string &path, bool forWriting,
                                         FileFailure &failure)
{
    std::unique_ptr<HeldFile> held(new HeldFile);
    held->shown_ = path;
    auto fail = [&](int status, const std::string &message) {
        failure = {status, path + ": " + message};
        return nullptr;
    };
    for (;;) {
        std::string error;
        if (!ResolveLinks(path, held->target_, error))
            return fail(kStatusUnreadable, "cannot be read: " + error);
        held->dir_ = DirectoryOf(held->target_);
        if (BaseName(held->target_).size() > NAME_MAX)
            return fail(forWriting ? kStatusUnwritable : kStatusUnreadable, std::strerror(ENAMETOOLONG));

        // O_NONBLOCK: a FIFO must not hold the run up before it is refused.
        int fd = open(held->target_.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 && errno == ELOOP)
            continue; // it became a link meanwhile
        if (fd < 0 && errno != ENOENT)
            return fail(kStatusUnreadable, std::string("cannot be read: ") + std::strerror(errno));

        if (fd < 0) {
            // Not there yet: it is created in its folder, which is held
            // meanwhile so that two runs do not both create it.
            held->existed_ = false;
            if (!forWriting)
                return held;
            int dfd = open(held->dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (dfd < 0)
                return fail(kStatusUnwritable, "cannot be created: its folder " + held->dir_ + ": " +
                                                   std::strerror(errno));
            if (access(held->dir_.c_str(), W_OK | X_OK) != 0) {
                int e = errno;
                close(dfd);
                return fail(kStatusUnwritable, "cannot be created in " + held->dir_ + ": " + std::strerror(e));
            }
            LockOrWait(dfd, path);
            struct stat now;
            if (lstat(held->target_.c_str(), &now) == 0) {
                close(dfd); // created by another run while this one waited
                continue;
            }
            held->fd_ = dfd;
            return held;
        }

        struct stat st;
        if (fstat(fd, &st) != 0) {
            int e = errno;
            close(fd);
            return fail(kStatusUnreadable, std::string("cannot be read: ") + std::strerror(e));
        }
        if (!S_ISREG(st.st_mode)) {
            close(fd);
            return fail(kStatusUnreadable, std::string("cannot be read: ") +
                                               (S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "not a regular file"));
        }
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        if (forWriting) {
            std::string why;
            if (!Replaceable(held->target_, held->dir_, fd, st, true, why)) {
                close(fd);
                return fail(kStatusUnwritable, why);
            }
            LockOrWait(fd, path);
            struct stat now;
            if (stat(held->target_.c_str(), &now) != 0 || !SameInode(now, st)) {
                close(fd); // replaced by another run while this one waited
                continue;
            }
        }
        // What is read from here on is what the file is now: a change
        // after this moment is seen before the file is replaced. The clock
        // is read first, so that a change in the same tick of the file's
        // times counts as one within their granularity.
        struct timespec now;
        clock_gettime(CLOCK_REALTIME, &now);
        if (fstat(fd, &st) != 0) {
            int e = errno;
            close(fd);
            return fail(kStatusUnreadable, std::string("cannot be read: ") + std::strerror(e));
        }
        struct timespec granularity = Granularity(st), since = now;
        since.tv_sec -= granularity.tv_sec;
        since.tv_nsec -= granularity.tv_nsec;
        if (since.tv_nsec < 0) {
            since.tv_nsec += 1000000000;
            since.tv_sec -= 1;
        }
        held->racy_ = forWriting && (Later(st.st_mtim, since) || Later(st.st_ctim, since));
        held->existed_ = true;
        held->read_ = st;
        held->fd_ = fd;
        return held;
    }
}

HeldFile::~HeldFile()
{
    if (fd_ >= 0)
        close(fd_);
}

bool HeldFile::IsNamedBy(const std::string &path) const
{
    std::string target, error;
    if (!ResolveLinks(path, target, error))
        return false;
    struct stat st;
    if (stat(target.c_str(), &st) == 0)
        return existed_ && SameInode(st, read_);
    // Neither exists: the same name in the same folder.
    struct stat dir, ours;
    return !existed_ && BaseName(target) == BaseName(target_) && stat(DirectoryOf(target).c_str(), &dir) == 0 &&
           stat(dir_.c_str(), &ours) == 0 && SameInode(dir, ours);
}

// The file must still be what was read: the same inode, size and times
// (the change time moves with any write, chmod or attribute, and no one can
// set it back). Where the times cannot tell, because the file had changed
// within their granularity before it was read, the content is compared.
bool HeldFile::Unchanged(FileFailure &failure)
{
    auto changed = [&] {
        failure = {kStatusChanged, shown_ + ": changed by another program while sambrel ran; nothing was "
                                            "saved, and the other change is kept"};
        return false;
    };
    struct stat now;
    if (lstat(target_.c_str(), &now) != 0)
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
        if (lstat(target_.c_str(), &now) != 0 || !SameInode(now, read_) || now.st_size != read_.st_size ||
            !SameTimes(now.st_mtim, read_.st_mtim) || !SameTimes(now.st_ctim, read_.st_ctim))
            return changed();
    }
    return true;
}

bool HeldFile::Replace(std::string_view bytes, FileFailure &failure, const std::function<void()> &saved)
{
    HoldSignals hold;
    std::string error;
    auto unwritable = [&] {
        failure = {kStatusUnwritable, shown_ + ": cannot save: " + error};
        return false;
    };
    Attributes attributes;
    if (existed_ && !ReadAttributes(fd_, target_, attributes, error))
        return unwritable();
    Replacement replacement(target_);
    if (!replacement.Create(error) || !replacement.Write(bytes, error) ||
        !replacement.TakeOver(existed_ ? &read_ : nullptr, attributes, error) || !replacement.Flush(error) ||
        !replacement.Name(error))
        return unwritable();
    if (int signal = HoldSignals::Pending()) {
        failure = {kStatusSignalled + signal, shown_ + ": a signal came before it was saved; it is as it was"};
        return false;
    }
    // The last look, as close to the rename as it can be.
    if (!Unchanged(failure))
        return false;
    bool taken = false;
    if (!replacement.Commit(!existed_, taken, error))
        return taken ? Unchanged(failure) : unwritable(); // taken: made by someone else meanwhile
    if (saved)
        saved();
    return true;
}

bool WriteAndFlush(int fd, std::string_view bytes, std::string &error)
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
    if (fsync(fd) != 0 && errno != EINVAL && errno != EROFS) {
        error = Reason("flush");
        return false;
    }
    return true;
}

bool CheckExport(const std::string &path, std::string &error)
{
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        if (S_ISDIR(st.st_mode))
            error = std::strerror(EISDIR);
        else if (access(path.c_str(), W_OK) != 0)
            error = std::strerror(errno);
        return error.empty();
    }
    std::string target;
    if (!ResolveLinks(path, target, error))
        return false;
    std::string dir = DirectoryOf(target);
    if (BaseName(target).size() > NAME_MAX) {
        error = std::strerror(ENAMETOOLONG);
        return false;
    }
    if (lstat(target.c_str(), &st) != 0) {
        if (errno != ENOENT) {
            error = std::strerror(errno);
        } else if (access(dir.c_str(), W_OK | X_OK) != 0) {
            error = "its folder " + dir + ": " + std::strerror(errno);
        }
        return error.empty();
    }
    return Replaceable(target, dir, -1, st, false, error);
}

bool WriteExport(const std::string &path, std::string_view bytes, std::string &error)
{
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        if (S_ISDIR(st.st_mode)) {
            error = std::strerror(EISDIR);
            return false;
        }
        // A terminal, a pipe or a device takes the bytes as they come.
        int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) {
            error = std::strerror(errno);
            return false;
        }
        bool ok = WriteAndFlush(fd, bytes, error);
        if (close(fd) != 0 && ok) {
            error = Reason("close");
            ok = false;
        }
        return ok;
    }
    std::string target;
    if (!ResolveLinks(path, target, error))
        return false;
    HoldSignals hold;
    struct stat old;
    bool exists = lstat(target.c_str(), &old) == 0;
    Attributes attributes;
    if (exists && !ReadAttributes(-1, target, attributes, error))
        return false;
    Replacement replacement(target);
    if (!replacement.Create(error) || !replacement.Write(bytes, error) ||
        !replacement.TakeOver(exists ? &old : nullptr, attributes, error) || !replacement.Flush(error) ||
        !replacement.Name(error))
        return false;
    if (int signal = HoldSignals::Pending()) {
        error = std::string("a signal came before it was written (") + strsignal(signal) + ")";
        return false;
    }
    bool taken = false;
    return replacement.Commit(false, taken, error);
}

bool ReadWholeFile(const std::string &path, std::string &bytes, std::string &error)
{
    FileFailure failure;
    auto held = HeldFile::Open(path, false, failure);
    if (!held) {
        error = failure.message;
        return false;
    }
    if (!held->Existed()) {
        error = path + ": " + std::strerror(ENOENT);
        return false;
    }
    bytes.assign(held->Size(), '\0');
    size_t got = 0, n = 0;
    do {
        if (got == bytes.size())
            bytes.resize(bytes.size() + 65536); // it grew while being read
        if (!held->Read(&bytes[got], bytes.size() - got, n, error)) {
            error = path + ": cannot be read: " + error;
            return false;
        }
        got += n;
    } while (n);
    bytes.resize(got);
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
