// Reading a registry file, and replacing it safely.
#include "file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace regfile {
namespace {

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

} // namespace

ReadResult ReadWholeFile(const std::string &path, std::string &bytes, std::string &error)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return ReadResult::Missing;
        error = std::strerror(errno);
        return ReadResult::Failed;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        error = std::strerror(errno);
        close(fd);
        return ReadResult::Failed;
    }
    if (!S_ISREG(st.st_mode)) {
        error = S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "not a regular file";
        close(fd);
        return ReadResult::Failed;
    }
    bytes.clear();
    char buf[65536];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = std::strerror(errno);
            close(fd);
            return ReadResult::Failed;
        }
        if (n == 0)
            break;
        bytes.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    return ReadResult::Ok;
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
    if (fsync(fd) != 0 && errno != EINVAL) {
        error = Reason("flush");
        return false;
    }
    return true;
}

bool ReplaceFile(const std::string &path, std::string_view bytes, std::string &error)
{
    struct stat old;
    bool exists = stat(path.c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode)) {
        error = "not a regular file";
        return false;
    }

    std::string dir = DirectoryOf(path);
    std::string name = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
    std::string tmpl = dir + "/." + name + ".XXXXXX";
    std::vector<char> tmp(tmpl.begin(), tmpl.end());
    tmp.push_back('\0');
    int fd = mkstemp(tmp.data());
    if (fd < 0) {
        error = Reason("cannot create a file beside it");
        return false;
    }

    mode_t mode;
    if (exists) {
        mode = old.st_mode & 07777;
    } else {
        mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    bool ok = fchmod(fd, mode) == 0 || (error = Reason("chmod"), false);
    ok = ok && WriteAndFlush(fd, bytes, error);
    if (close(fd) != 0 && ok) {
        error = Reason("close");
        ok = false;
    }
    if (ok && rename(tmp.data(), path.c_str()) != 0) {
        error = Reason("rename");
        ok = false;
    }
    if (!ok) {
        unlink(tmp.data());
        return false;
    }
    // The rename itself is made durable with the folder.
    int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
    return true;
}

} // namespace regfile
