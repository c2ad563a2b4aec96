// Reads the little-endian words that resource files, dialog templates,
// executable images and setup files are made of, bounded by the bytes it
// was given: at a position of the caller's (0 where the word does not lie
// within them), or in turn from a place it keeps, where a read past the
// end yields zero and leaves Ok() false for good.
#ifndef SAMBREL_BYTES_LE_READER_H
#define SAMBREL_BYTES_LE_READER_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace bytes {

class LeReader {
public:
    LeReader(const std::uint8_t *p, std::size_t size) : p_(p), size_(size) {}

    // Whether [at, at + n) lies within the bytes.
    bool Has(std::uint64_t at, std::uint64_t n) const { return at <= size_ && n <= size_ - at; }
    std::uint16_t WordAt(std::uint64_t at) const
    {
        return Has(at, 2) ? static_cast<std::uint16_t>(p_[at] | p_[at + 1] << 8) : 0;
    }
    std::uint32_t DwordAt(std::uint64_t at) const
    {
        return Has(at, 4) ? WordAt(at) | static_cast<std::uint32_t>(WordAt(at + 2)) << 16 : 0;
    }

    bool Ok() const { return ok_; }
    std::size_t Pos() const { return pos_; }
    void Seek(std::size_t pos)
    {
        if (pos > size_)
            ok_ = false;
        else
            pos_ = pos;
    }
    void AlignDword() { Seek((pos_ + 3) & ~static_cast<std::size_t>(3)); }
    void Skip(std::size_t n) { Seek(n > size_ - pos_ ? size_ + 1 : pos_ + n); }

    std::uint8_t Byte() { return Take(1) ? p_[pos_ - 1] : 0; }
    std::uint16_t Word() { return Take(2) ? WordAt(pos_ - 2) : 0; }
    short Short() { return static_cast<short>(Word()); }
    std::uint32_t Dword() { return Take(4) ? DwordAt(pos_ - 4) : 0; }
    // A zero-terminated string of words.
    std::u16string String()
    {
        std::u16string s;
        for (std::uint16_t w = Word(); ok_ && w != 0; w = Word())
            s.push_back(static_cast<char16_t>(w));
        return s;
    }
    // A string, or 0xFFFF and a 16-bit ordinal (then the string is empty).
    std::u16string StringOrOrdinal(std::optional<std::uint16_t> *ordinal = nullptr)
    {
        if (WordAt(pos_) == 0xFFFF) {
            Word();
            std::uint16_t ord = Word();
            if (ordinal)
                *ordinal = ord;
            return u"";
        }
        return String();
    }

private:
    // Moves past n bytes if they are there.
    bool Take(std::size_t n)
    {
        if (!Has(pos_, n)) {
            ok_ = false;
            return false;
        }
        pos_ += n;
        return true;
    }

    const std::uint8_t *p_;
    std::size_t size_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

} // namespace bytes

#endif
