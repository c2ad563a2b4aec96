// Paths and identities: where a name leads, and whether two looks at a
// file saw the same one.
#ifndef SAMBREL_SAVEFILE_PATHS_H
#define SAMBREL_SAVEFILE_PATHS_H

#include <string>
#include <sys/stat.h>

namespace savefile {

// "what: " and the reason errno gives.
std::string Reason(const char *what);
std::string DirectoryOf(const std::string &path);
std::string BaseName(const std::string &path);
// Follows symbolic links from path to the name of what they lead to, which
// need not exist. With descriptor, a name that means one of this process's
// own descriptors (/dev/stdout, /dev/fd/N, /proc/self/fd/N, and links to
// them) is not followed to the file it is open on, which may have no name
// now or another one: target is then that name, and descriptor its number
// (else -1). Where /proc is not mounted, such a name is told by its
// spelling (/dev/stdin, /dev/stdout, /dev/stderr, /dev/fd/N,
// /proc/self/fd/N, /proc/thread-self/fd/N, /proc/PID/fd/N), and only while
// nothing of that name exists.
bool ResolveLinks(const std::string &path, std::string &target, std::string &error, int *descriptor = nullptr);
// A name for the entry name of the folder held open as dirFd, for calls
// that take no folder descriptor (the attribute calls): the folder's own
// entry in /proc, which a link switched meanwhile cannot redirect. Empty
// where /proc is not mounted (a chroot, a container).
std::string InFolder(int dirFd, const std::string &name);
// Whether /proc/self/fd/N leads to what the descriptor fd is open on: not
// where /proc is not mounted.
bool ProcShows(int fd);
// Opens a file's folder to hold it: every later step is taken relative to
// it, so that a symbolic link on the way, switched meanwhile, cannot lead
// them elsewhere.
int HoldFolder(const std::string &dir);
bool SameInode(const struct stat &a, const struct stat &b);
bool SameTimes(const struct timespec &a, const struct timespec &b);

} // namespace savefile

#endif
