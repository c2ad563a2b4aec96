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

// A terminal, a pipe or a device is written once the bytes are all made.
bool WriteStraight(const std::string &path, const Writer &write, std::string &error)
{
    std::string bytes;
    StringSink gathered(bytes);
    if (!write(gathered, error))
        return false;
    int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    bool ok = WriteAll(fd, bytes, error) && Flush(fd, error);
    if (close(fd) != 0 && ok) {
        error = Reason("close");
        ok = false;
    }
    return ok;
}

} // namespace

bool CheckOutput(const std::string &path, std::string &error)
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
    if (!(error = NamedAsNewFile(target)).empty())
        return false;
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

bool WriteOutput(const std::string &path, const Writer &write, const Policy &policy, std::string &error)
{
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        if (S_ISDIR(st.st_mode)) {
            error = std::strerror(EISDIR);
            return false;
        }
        return WriteStraight(path, write, error);
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
    Replacement replacement(target, policy.ownFile);
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
