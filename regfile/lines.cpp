// Lines of a registry file, found in place.
#include "regfile/lines.h"

#include "regfile/scan.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace regfile {
namespace {

// A file is read in pieces of this size; a longer line makes the window
// grow to hold it.
constexpr size_t kPiece = 1 << 20;
// A window that one line fills grows at once to hold the rest of the file
// when that is no more than this many times its size.
constexpr size_t kGrowToRest = 16;

} // namespace

LineReader::LineReader(bytes::Source &source) : source_(&source)
{
    capacity_ = std::clamp<size_t>(source.Size() + 16, 4096, kPiece) & ~size_t{1};
    buffer_.reset(new char16_t[capacity_ / 2]);
    window_ = std::string_view(reinterpret_cast<const char *>(buffer_.get()), 0);
}

inline unsigned LineReader::Unit(size_t at) const
{
    auto byte = [&](size_t i) { return static_cast<unsigned char>(window_[i]); };
    return unit_ == 1 ? byte(at) : byte(at) | byte(at + 1) << 8;
}

// The first CR or LF unit in [from, limit), or limit.
inline size_t LineReader::FindEnd(size_t from, size_t limit) const
{
    if (unit_ == 1)
        return from + FindEither(window_.data() + from, limit - from, '\r', '\n');
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    // UTF-16LE is the host's own order: its units are read as they lie.
    typedef char16_t __attribute__((may_alias)) Unit16;
    if (reinterpret_cast<std::uintptr_t>(window_.data()) % 2 == 0)
        return from + 2 * FindEither(reinterpret_cast<const Unit16 *>(window_.data() + from), (limit - from) / 2,
                                     char16_t{'\r'}, char16_t{'\n'});
#endif
    for (size_t at = from; at < limit; at += unit_) {
        unsigned u = Unit(at);
        if (u == '\r' || u == '\n')
            return at;
    }
    return limit;
}

// Moves what is left to the front of the window and reads more after it;
// false when nothing more came.
bool LineReader::Refill()
{
    if (!source_ || end_)
        return false;
    size_t keep = window_.size() - pos_;
    char *base = reinterpret_cast<char *>(buffer_.get());
    if (keep == capacity_) { // one line fills the window
        // It grows at once to hold the rest of the file, where the file's
        // size says that is not much more (a long value's line is copied
        // once, not at each doubling), and doubles otherwise.
        size_t rest = source_->Size() > read_ ? source_->Size() - read_ : 0;
        size_t grown = rest && rest <= kGrowToRest * capacity_ ? (keep + rest + 16) & ~size_t{1} : 2 * capacity_;
        std::unique_ptr<char16_t[]> larger(new char16_t[grown / 2]);
        std::memcpy(larger.get(), window_.data() + pos_, keep);
        buffer_ = std::move(larger);
        capacity_ = grown;
        base = reinterpret_cast<char *>(buffer_.get());
    } else if (keep) {
        std::memmove(base, window_.data() + pos_, keep);
    }
    pos_ = 0;
    size_t got = 0;
    if (!source_->Read(base + keep, capacity_ - keep, got, error_)) {
        end_ = true;
        got = 0;
    }
    if (got == 0)
        end_ = true;
    read_ += got;
    window_ = std::string_view(base, keep + got);
    return got > 0;
}

std::string_view LineReader::Ahead(size_t count)
{
    while (window_.size() - pos_ < count && Refill()) {
    }
    return window_.substr(pos_);
}

// A line whose end, and the unit after it, lie in the window, in units of
// Char from at: taken at once, as most lines are.
template <typename Char> bool LineReader::TakeLine(const Char *at, size_t units)
{
    size_t end = FindEither(at, units, Char('\r'), Char('\n'));
    if (end + 1 >= units)
        return false;
    line_ = std::string_view(reinterpret_cast<const char *>(at), end * sizeof(Char));
    size_t next = end + 1;
    if (at[end] == '\n') {
        ending_ = LineEnd::Lf;
    } else if (at[next] == '\n') {
        ending_ = LineEnd::CrLf;
        ++next;
    } else {
        ending_ = LineEnd::Cr;
    }
    pos_ += next * sizeof(Char);
    ++number_;
    return true;
}

bool LineReader::Next()
{
    const char *at = window_.data() + pos_;
    if (unit_ == 1 && TakeLine(at, window_.size() - pos_))
        return true;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    // UTF-16LE is the host's own order: its units are read as they lie.
    typedef char16_t __attribute__((may_alias)) Unit16;
    if (unit_ == 2 && reinterpret_cast<std::uintptr_t>(at) % 2 == 0 &&
        TakeLine(reinterpret_cast<const Unit16 *>(at), (window_.size() - pos_) / 2))
        return true;
#endif
    return NextAtEdge();
}

bool LineReader::NextAtEdge()
{
    size_t scanned = 0; // bytes after pos_ known to hold no line end
    for (;;) {
        size_t limit = pos_ + ((window_.size() - pos_) & ~(unit_ - 1)); // whole units: unit_ is 1 or 2
        size_t end = FindEnd(pos_ + scanned, limit);
        // A CR at the edge of the window needs the unit after it.
        unsigned at = end < limit ? Unit(end) : 0;
        if (end < limit && (at == '\n' || end + unit_ < limit || end_)) {
            line_ = std::string_view(window_.data() + pos_, end - pos_);
            size_t next = end + unit_;
            if (at == '\n') {
                ending_ = LineEnd::Lf;
            } else if (next < limit && Unit(next) == '\n') {
                ending_ = LineEnd::CrLf;
                next += unit_;
            } else {
                ending_ = LineEnd::Cr;
            }
            pos_ = next;
            ++number_;
            return true;
        }
        bool edgeCr = end < limit;
        scanned = end - pos_;
        if (!Refill()) {
            limit = pos_ + ((window_.size() - pos_) & ~(unit_ - 1));
            dangling_ = window_.size() > limit;
            if (pos_ >= limit)
                return false;
            if (edgeCr) // a CR at the very end: taken on the next turn
                continue;
            line_ = window_.substr(pos_, limit - pos_);
            ending_ = std::nullopt;
            pos_ = limit;
            ++number_;
            return true;
        }
    }
}

} // namespace regfile
