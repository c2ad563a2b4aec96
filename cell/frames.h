// What a cell's child hands back through its pipe: frames of a tag (one
// byte) and a payload (its length in four bytes, little-endian, then its
// bytes). The parent reads them as hostile input: a frame larger than it
// allows is refused before a byte of it is read, and one cut short is
// said as such.
#ifndef SAMBREL_CELL_FRAMES_H
#define SAMBREL_CELL_FRAMES_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <optional>
#include <vector>

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

// The parent's side. Frames are taken from a buffer filled a block at a
// time, so that a flood of small frames costs the parent no more than
// their bytes.
class FrameReader {
public:
    explicit FrameReader(int fd) : fd_(fd), buffer_(kBlock) {}
    // From now on, waiting past when for the child's next bytes ends its
    // frames (TimedOut).
    void Deadline(std::chrono::steady_clock::time_point when) { deadline_ = when; }
    // The next frame, of at most limit bytes. False at the end of what the
    // child wrote (why empty), or with why: a frame cut short, or larger
    // than limit (left unread), or the deadline passed (why empty).
    bool Next(Frame &frame, std::size_t limit, std::string &why);
    // What a frame larger than limit is said to be.
    static std::string TooLarge(std::size_t size, std::size_t limit);
    // Whether the child's end of the pipe is closed and all of it read.
    bool AtEnd() const { return atEnd_; }
    bool TimedOut() const { return timedOut_; }
    bool HasDeadline() const { return deadline_.has_value(); }
    // Waits, up to the deadline, for the child's end of the pipe to close
    // with nothing more written; false if bytes come first or time is up.
    bool AwaitEnd();

private:
    static constexpr std::size_t kBlock = 64 * 1024;
    // Takes exactly size bytes; false at the end (got tells how many came).
    bool Take(char *to, std::size_t size, std::size_t &got);
    // Reads what the child has written, waiting up to the deadline; false
    // at the end, on an error or past the deadline.
    bool Fill();

    int fd_;
    std::vector<char> buffer_;
    std::size_t begin_ = 0, end_ = 0; // what is read and not yet taken
    std::optional<std::chrono::steady_clock::time_point> deadline_;
    bool atEnd_ = false;
    bool timedOut_ = false;
};

} // namespace cell

#endif
