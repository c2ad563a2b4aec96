// Handheld registry files: the .reg text that registry editors export and
// import, read strictly into a registry and written back without loss.
#ifndef SAMBREL_REGFILE_REGFILE_H
#define SAMBREL_REGFILE_REGFILE_H

#include "registry/model.h"
#include "bytes/source_sink.h"

#include <optional>
#include <string>
#include <string_view>

namespace regfile {

// How a file is written: its header and its encoding.
enum class Encoding {
    Regedit4, // "REGEDIT4", 8-bit Windows-1252
    Utf16,    // "Windows Registry Editor Version 5.00", UTF-16LE with a byte-order mark
    Utf8,     // the same header, UTF-8 without a mark
    Utf8Bom,  // the same header, UTF-8 with a mark
};

// How lines end: as they were read.
enum class LineEnd { CrLf, Lf, Cr };

struct Format {
    Encoding encoding = Encoding::Utf16;
    LineEnd lineEnd = LineEnd::CrLf;
};

struct LoadError {
    size_t line = 0; // 1-based
    std::string message;
};

struct Loaded {
    registry::Tree registry;
    Format format;
};

// Reads a whole file's bytes. Anything it does not understand refuses the
// whole file: nothing read is ever dropped.
std::optional<LoadError> Load(std::string_view bytes, Loaded &out);
// Lines that delete keys or values ("[-key]", "name"=-): a registry
// editor's files may hold them, a file Save writes never does, so that
// one read back from a writer not trusted is held to that (deletions it
// could not make would otherwise cost memory it could not have used).
enum class Deletions { Allowed, Refused };

// The same, reading the bytes in pieces, so that a large file is never held
// whole. A read that fails gives line 0 and the reason.
std::optional<LoadError> Load(bytes::Source &source, Loaded &out, Deletions deletions = Deletions::Allowed);

// The size of the blocks a save hands to its sink.
constexpr size_t kSaveBlock = 128 * 1024;

// Writes the whole registry: every key below the roots, in the registry's
// order, each with its values, in blocks of block bytes (the last one
// shorter). Fails (with a reason) when a name or text cannot be written in
// the file's encoding (beyond Windows-1252, half a surrogate pair in UTF-8)
// or so that it loads again, or the sink fails; the first such fault stops
// it, and what the sink took until then is not a file.
bool Save(const registry::Tree &registry, const Format &format, bytes::Sink &sink, std::string &error,
          size_t block = kSaveBlock);
// The same, gathered into bytes (empty on failure).
bool Save(const registry::Tree &registry, const Format &format, std::string &bytes,
          std::string &error);

// Whether head, a file's first bytes, is how a file Save writes begins: its
// header, in any encoding.
bool BeginsAsRegistryFile(std::string_view head);

// One key's section, as it stands in a file, in UTF-8 with LF line ends.
std::string KeySection(const std::string &path, const registry::RegKey &key);

} // namespace regfile

#endif
