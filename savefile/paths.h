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
// The reason a file of this name (links followed) must not be saved:
// it is named as a new file is before it replaces another, and a later save
// in its folder could take it for a killed save's leftover. Empty when the
// name is free of that.
std::string NamedAsNewFile(const std::string &target);
bool SameTimes(const struct timespec &a, const struct timespec &b);

} // namespace savefile

#endif
