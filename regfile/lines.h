// A registry file's lines, one at a time, ending at CRLF, LF or a lone CR:
// found where they lie in bytes already in memory, or in a window that
// moves along a file read in pieces, so that a large file is never held
// whole.
#ifndef SAMBREL_REGFILE_LINES_H
#define SAMBREL_REGFILE_LINES_H

#include "regfile/regfile.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace regfile {

class LineReader {
public:
    explicit LineReader(std::string_view bytes) : window_(bytes), end_(true) {}
    explicit LineReader(bytes::Source &source);

    // The bytes not read yet: at least count of them, where the input has
    // that many. They stay where they are until Skip or Next.
    std::string_view Ahead(size_t count);
    void Skip(size_t bytes) { pos_ += bytes; }
    // Characters are units of this many bytes: 1, or 2 for UTF-16LE.
    void SetUnit(size_t bytes) { unit_ = bytes; }

    // Moves to the next line; false at the end of the input.
    bool Next();
    // The line's bytes without its end, valid until the next call.
    std::string_view Bytes() const { return line_; }
    size_t Number() const { return number_; }
    // How the line ended: CRLF, LF, CR, or not at all (the last).
    std::optional<LineEnd> Ending() const { return ending_; }
    // Whether the input ended in the middle of a unit.
    bool Dangling() const { return dangling_; }
    // Why the input could not be read, or "".
    const std::string &Error() const { return error_; }

private:
    unsigned Unit(size_t at) const;
    size_t FindEnd(size_t from, size_t limit) const;
    template <typename Char> bool TakeLine(const Char *at, size_t units);
    // Next, where a line may run past the window or end the input.
    bool NextAtEdge();
    bool Refill();

    std::string_view window_; // the bytes at hand
    size_t pos_ = 0;          // where the next line starts in window_
    size_t unit_ = 1;
    bytes::Source *source_ = nullptr;
    std::unique_ptr<char16_t[]> buffer_; // aligned for UTF-16 seen in place
    size_t capacity_ = 0;                // bytes
    bool end_ = false;                   // the source has given everything
    size_t read_ = 0;                    // bytes the source has given
    std::string error_;
    std::string_view line_;
    size_t number_ = 0;
    std::optional<LineEnd> ending_;
    bool dangling_ = false;
};

} // namespace regfile

#endif
