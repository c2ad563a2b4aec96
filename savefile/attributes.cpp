// What a replacement keeps of the file it replaces.
#include "savefile/attributes.h"

#include "savefile/paths.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace savefile {
namespace {

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

constexpr char kAccessAcl[] = "system.posix_acl_access";

// Whether a replacement of the file old, in the folder dirFd, could carry its
// attributes: tried on a new file there that nothing sees and that goes as
// it is closed. Where the file system has no such files, saving finds out.
bool CanCarryAttributes(int dirFd, const struct stat &old, const Attributes &attributes, std::string &error)
{
    if (attributes.empty())
        return true;
#ifdef O_TMPFILE
    int fd = openat(dirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
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

} // namespace

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

bool ReadAttributesAt(int dirFd, const std::string &name, const struct stat &seen, Attributes &out,
                      std::string &error)
{
    std::string entry = InFolder(dirFd, name);
    if (!entry.empty())
        return ReadAttributes(-1, entry, out, error);
    // O_NONBLOCK and O_NOCTTY: whatever the name has become, opening it
    // neither waits nor takes a terminal.
    int fd = openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = Reason("cannot read its attributes (without /proc, it must be readable)");
        return false;
    }
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && SameInode(st, seen);
    if (!ok)
        error = "it became another file while its attributes were read";
    ok = ok && ReadAttributes(fd, {}, out, error);
    close(fd);
    return ok;
}

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

bool Replaceable(int dirFd, const std::string &name, const std::string &dir, int fd, const struct stat &st,
                 bool oneLink, std::string &why)
{
    Attributes attributes;
    if (faccessat(dirFd, name.c_str(), W_OK, 0) != 0)
        why = std::string("cannot be written: ") + std::strerror(errno);
    else if (faccessat(dirFd, ".", W_OK | X_OK, 0) != 0)
        why = "cannot be replaced: its folder " + dir + ": " + std::strerror(errno);
    else if (oneLink && st.st_nlink > 1)
        why = "has " + std::to_string(st.st_nlink) +
              " hard links; a replacement would break them, and writing it in place could "
              "leave it half written";
    else if (!CanKeepOwner(st, why) || !(fd >= 0 ? ReadAttributes(fd, {}, attributes, why) : ReadAttributesAt(dirFd, name, st, attributes, why)) ||
             !CanCarryAttributes(dirFd, st, attributes, why))
        why = "cannot be replaced: " + why;
    return why.empty();
}

} // namespace savefile
