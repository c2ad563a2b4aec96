// Paths and identities: where a name leads, and whether two looks at a
// file saw the same one.
#include "savefile/paths.h"

#include "savefile/replacement.h"
#include "savefile/savefile.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace savefile {
namespace {

constexpr int kMaxLinkHops = 40;

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

bool SameFile(const std::string &a, const std::string &b)
{
    std::string ta, tb, error;
    if (!ResolveLinks(a, ta, error) || !ResolveLinks(b, tb, error))
        return false;
    struct stat sa, sb;
    bool ea = stat(ta.c_str(), &sa) == 0, eb = stat(tb.c_str(), &sb) == 0;
    if (ea || eb)
        return ea && eb && SameInode(sa, sb);
    return BaseName(ta) == BaseName(tb) && stat(DirectoryOf(ta).c_str(), &sa) == 0 &&
           stat(DirectoryOf(tb).c_str(), &sb) == 0 && SameInode(sa, sb);
}

std::string NamedAsNewFile(const std::string &target)
{
    if (!HasNewName(BaseName(target).c_str()))
        return {};
    return "is named as a new file is until it replaces another (.sambrel- and 8 hex digits), and a later save "
           "in its folder could take it for what a killed save left and remove it; give it another name";
}

} // namespace savefile
