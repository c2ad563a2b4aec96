#include "cell/frames.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace cell {
namespace {

constexpr std::size_t kHeader = 5;

} // namespace

bool FrameWriter::Put(char tag, std::string_view payload)
{
    auto size = static_cast<std::uint32_t>(payload.size());
    if (size != payload.size())
        return false;
    const char header[kHeader] = {tag, static_cast<char>(size), static_cast<char>(size >> 8),
                                  static_cast<char>(size >> 16), static_cast<char>(size >> 24)};
    for (std::string_view part : {std::string_view(header, kHeader), payload}) {
        while (!part.empty()) {
            ssize_t n = write(fd_, part.data(), part.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            part.remove_prefix(static_cast<size_t>(n));
        }
    }
    return true;
}

std::string FrameReader::TooLarge(std::size_t size, std::size_t limit)
{
    return "its result holds a part of " + std::to_string(size) + " bytes, where at most " + std::to_string(limit) +
           " may come";
}

bool FrameReader::Fill()
{
    if (atEnd_ || timedOut_)
        return false;
    if (begin_ == end_)
        begin_ = end_ = 0;
    for (;;) {
        int wait = -1;
        if (deadline_) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline_ - std::chrono::steady_clock::now());
            wait = static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, 60'000));
        }
        struct pollfd ready = {fd_, POLLIN, 0};
        int n = poll(&ready, 1, wait);
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 && deadline_ && std::chrono::steady_clock::now() >= *deadline_) {
            timedOut_ = true;
            return false;
        }
        if (n == 0)
            continue;
        ssize_t got = read(fd_, buffer_.data() + end_, buffer_.size() - end_);
        if (got < 0 && errno == EINTR)
            continue;
        atEnd_ = got == 0;
        if (got <= 0)
            return false;
        end_ += static_cast<std::size_t>(got);
        return true;
    }
}

bool FrameReader::AwaitEnd() { return begin_ == end_ && !Fill() && atEnd_; }

bool FrameReader::Take(char *to, std::size_t size, std::size_t &got)
{
    got = 0;
    while (got < size) {
        if (begin_ == end_ && !Fill())
            return false;
        std::size_t n = std::min(size - got, end_ - begin_);
        std::memcpy(to + got, buffer_.data() + begin_, n);
        begin_ += n;
        got += n;
    }
    return true;
}

bool FrameReader::Next(Frame &frame, std::size_t limit, std::string &why)
{
    why.clear();
    unsigned char header[kHeader];
    std::size_t got = 0;
    if (!Take(reinterpret_cast<char *>(header), kHeader, got)) {
        if (got && !timedOut_)
            why = "its result was cut short";
        return false;
    }
    std::uint32_t size = header[1] | header[2] << 8 | header[3] << 16 | std::uint32_t(header[4]) << 24;
    if (size > limit) {
        why = TooLarge(size, limit);
        return false;
    }
    frame.tag = static_cast<char>(header[0]);
    // Room is made as the bytes come, not as the header claims.
    frame.payload.clear();
    while (frame.payload.size() < size) {
        std::size_t had = frame.payload.size();
        frame.payload.resize(had + std::min<std::size_t>(size - had, kBlock));
        if (!Take(frame.payload.data() + had, frame.payload.size() - had, got)) {
            if (!timedOut_)
                why = "its result was cut short";
            return false;
        }
    }
    return true;
}

} // namespace cell
