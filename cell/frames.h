// What a cell's child hands back through its pipe: frames of a tag (one
// byte) and a payload (its length in four bytes, little-endian, then its
// bytes). The parent reads them as hostile input: a frame larger than it
// allows is refused before a byte of it is read, and one cut short is
// said as such.
#ifndef SAMBREL_CELL_FRAMES_H
#define SAMBREL_CELL_FRAMES_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace cell {

// The child's side.
class FrameWriter {
public:
    explicit FrameWriter(int fd) : fd_(fd) {}
    // Writes the whole frame; false once the pipe fails (the parent is
    // gone, or stopped reading).
    bool Put(char tag, std::string_view payload);

private:
    int fd_;
};

struct Frame {
    char tag = 0;
    std::string payload;
};

// The parent's side.
class FrameReader {
public:
    explicit FrameReader(int fd) : fd_(fd) {}
    // The next frame, of at most limit bytes. False at the end of what the
    // child wrote (why empty), or with why: a frame cut short, or larger
    // than limit (left unread).
    bool Next(Frame &frame, std::size_t limit, std::string &why);
    // What a frame larger than limit is said to be.
    static std::string TooLarge(std::size_t size, std::size_t limit);
    // Whether the child's end of the pipe is closed and all of it read.
    bool AtEnd() const { return atEnd_; }
    // All the bytes of frames taken so far.
    std::uint64_t Taken() const { return taken_; }

private:
    // Reads exactly size bytes; false at the end (got tells how many came).
    bool ReadFully(char *to, std::size_t size, std::size_t &got);

    int fd_;
    std::uint64_t taken_ = 0;
    bool atEnd_ = false;
};

} // namespace cell

#endif
