// Reading a registry file, and replacing it without ever leaving a half
// written one behind.
#ifndef SAMBREL_REGFILE_FILE_H
#define SAMBREL_REGFILE_FILE_H

#include <string>
#include <string_view>

namespace regfile {

enum class ReadResult { Ok, Missing, Failed };

// Missing when the path names nothing (the file is then to be created).
ReadResult ReadWholeFile(const std::string &path, std::string &bytes, std::string &error);

// Writes all bytes to fd and flushes them to the disk; false with a reason
// on any failure (a full disk shows here).
bool WriteAndFlush(int fd, std::string_view bytes, std::string &error);

// Writes a temporary file beside path, flushes it, and renames it over
// path, keeping the old file's permissions. On failure the old file is left
// as it was and the temporary file is removed.
bool ReplaceFile(const std::string &path, std::string_view bytes, std::string &error);

} // namespace regfile

#endif
