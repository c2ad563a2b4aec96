// What a replacement keeps of the file it replaces: its owner and group,
// its ACL and its extended attributes, as a careful copy does.
#ifndef SAMBREL_SAVEFILE_ATTRIBUTES_H
#define SAMBREL_SAVEFILE_ATTRIBUTES_H

#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace savefile {

// A file's extended attributes, its POSIX ACL (system.posix_acl_access)
// among them, as this process may see them.
using Attributes = std::vector<std::pair<std::string, std::string>>;

// From the open file fd, or, when fd is -1, from path itself (not
// followed). A file system without attributes has none.
bool ReadAttributes(int fd, const std::string &path, Attributes &out, std::string &error);

// From the entry name of the folder held as dirFd, which was seen as the
// regular file seen: through the folder's entry in /proc, which needs no
// permission on the file, or, where /proc is not mounted, through the file
// opened for reading (refused unless it is still the file seen).
bool ReadAttributesAt(int dirFd, const std::string &name, const struct stat &seen, Attributes &out,
                      std::string &error);

// Gives the new file fd the old file's attributes, as a careful copy does.
// An access ACL the new file took from its folder's default ACL goes, since
// the old file had none. One this process may not set fails the whole.
bool CarryAttributes(const Attributes &attributes, int fd, std::string &error);

// Whether the regular file name, in the folder held as dirFd (dir, for
// messages), can be replaced by this process as it is: writable by the
// real user, in a writable folder, of one link where oneLink asks, with an
// owner and attributes a replacement keeps (read from fd, or from the
// entry itself when fd is -1).
bool Replaceable(int dirFd, const std::string &name, const std::string &dir, int fd, const struct stat &st,
                 bool oneLink, std::string &why);

} // namespace savefile

#endif
