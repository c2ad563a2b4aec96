// Paths and identities: where a name leads, and whether two looks at a
// file saw the same one.
#include "savefile/paths.h"

#include "savefile/savefile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <unistd.h>
#include <vector>

namespace savefile {
namespace {

constexpr int kMaxLinkHops = 40;

// This process's descriptor folders, held open while a name is looked at
// so that they are the same inodes as any spelling of them that leads
// there (/dev/fd, /proc/self/fd, /proc/PID/fd, /proc/thread-self/fd).
class DescriptorFolders {
public:
    DescriptorFolders()
    {
        for (int i = 0; i < 2; ++i) {
            fds_[i] = open(i == 0 ? "/proc/self/fd" : "/proc/thread-self/fd", O_PATH | O_DIRECTORY | O_CLOEXEC);
            if (fds_[i] >= 0 && fstat(fds_[i], &st_[i]) != 0) {
                close(fds_[i]);
                fds_[i] = -1;
            }
        }
    }
    ~DescriptorFolders()
    {
        for (int fd : fds_)
            if (fd >= 0)
                close(fd);
    }
    DescriptorFolders(const DescriptorFolders &) = delete;
    DescriptorFolders &operator=(const DescriptorFolders &) = delete;

    // The descriptor that path names, or -1: an entry of a descriptor
    // folder, whether it is open or not.
    int Named(const std::string &path) const
    {
        if (fds_[0] < 0 && fds_[1] < 0)
            return Spelt(path);
        int number = Number(BaseName(path));
        struct stat dir;
        if (number < 0 || stat(DirectoryOf(path).c_str(), &dir) != 0)
            return -1;
        for (int i = 0; i < 2; ++i)
            if (fds_[i] >= 0 && SameInode(dir, st_[i]))
                return number;
        return -1;
    }

private:
    static int Number(const std::string &name)
    {
        if (name.empty() || name.size() > 9 ||
            !std::all_of(name.begin(), name.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
            return -1;
        return std::stoi(name);
    }

    // Without /proc, a descriptor folder's entry by its spelling, where
    // nothing of that name exists (opening it could only fail): the links
    // /dev/stdout and /dev/fd lead to nothing then.
    static int Spelt(const std::string &path)
    {
        struct stat st;
        if (lstat(path.c_str(), &st) == 0 || errno != ENOENT)
            return -1;
        static const char *const kStandard[] = {"/dev/stdin", "/dev/stdout", "/dev/stderr"};
        for (int fd = 0; fd < 3; ++fd)
            if (path == kStandard[fd])
                return fd;
        std::string dir = DirectoryOf(path);
        if (dir == "/dev/fd" || dir == "/proc/self/fd" || dir == "/proc/thread-self/fd" ||
            dir == "/proc/" + std::to_string(getpid()) + "/fd")
            return Number(BaseName(path));
        return -1;
    }

    int fds_[2] = {-1, -1};
    struct stat st_[2] {};
};

} // namespace

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

bool ResolveLinks(const std::string &path, std::string &target, std::string &error, int *descriptor)
{
    std::optional<DescriptorFolders> folders;
    if (descriptor) {
        *descriptor = -1;
        folders.emplace();
    }
    std::string p = path;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        if (folders && (*descriptor = folders->Named(p)) >= 0) {
            target = p;
            return true;
        }
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

bool ProcShows(int fd)
{
    struct stat entry, opened;
    return stat(("/proc/self/fd/" + std::to_string(fd)).c_str(), &entry) == 0 && fstat(fd, &opened) == 0 &&
           SameInode(entry, opened);
}

std::string InFolder(int dirFd, const std::string &name)
{
    if (!ProcShows(dirFd))
        return {};
    return "/proc/self/fd/" + std::to_string(dirFd) + "/" + name;
}

int HoldFolder(const std::string &dir)
{
    return open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

bool SameInode(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool SameTimes(const struct timespec &a, const struct timespec &b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool SameFile(const std::string &a, const std::string &b)
{
    std::string ta, tb, error;
    int da, db; // a descriptor's entry leads to the file it is open on, named or not
    if (!ResolveLinks(a, ta, error, &da) || !ResolveLinks(b, tb, error, &db))
        return false;
    struct stat sa, sb;
    bool ea = da >= 0 ? fstat(da, &sa) == 0 : stat(ta.c_str(), &sa) == 0;
    bool eb = db >= 0 ? fstat(db, &sb) == 0 : stat(tb.c_str(), &sb) == 0;
    if (ea || eb)
        return ea && eb && SameInode(sa, sb);
    return BaseName(ta) == BaseName(tb) && stat(DirectoryOf(ta).c_str(), &sa) == 0 &&
           stat(DirectoryOf(tb).c_str(), &sb) == 0 && SameInode(sa, sb);
}

} // namespace savefile
