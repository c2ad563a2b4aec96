#include "cell/frames.h"

#include <cerrno>
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

bool FrameReader::ReadFully(char *to, std::size_t size, std::size_t &got)
{
    got = 0;
    while (got < size) {
        ssize_t n = read(fd_, to + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        atEnd_ = n == 0;
        if (n <= 0)
            return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

bool FrameReader::Next(Frame &frame, std::size_t limit, std::string &why)
{
    why.clear();
    unsigned char header[kHeader];
    std::size_t got = 0;
    if (!ReadFully(reinterpret_cast<char *>(header), kHeader, got)) {
        if (got)
            why = "its result was cut short";
        return false;
    }
    std::uint32_t size = header[1] | header[2] << 8 | header[3] << 16 | std::uint32_t(header[4]) << 24;
    if (size > limit) {
        why = TooLarge(size, limit);
        return false;
    }
    frame.tag = static_cast<char>(header[0]);
    frame.payload.resize(size);
    if (!ReadFully(frame.payload.data(), size, got)) {
        why = "its result was cut short";
        return false;
    }
    taken_ += kHeader + size;
    return true;
}

} // namespace cell
