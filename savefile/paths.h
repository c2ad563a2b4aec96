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
// need not exist.
bool ResolveLinks(const std::string &path, std::string &target, std::string &error);
bool SameInode(const struct stat &a, const struct stat &b);
bool SameTimes(const struct timespec &a, const struct timespec &b);

} // namespace savefile

#endif
