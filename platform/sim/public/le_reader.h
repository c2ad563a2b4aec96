// Reads the little-endian 16-bit words that resource files and dialog
// templates are made of, bounded by the bytes it was given. A read past
// the end yields zero and leaves Ok() false for good.
#ifndef SAMBREL_SIM_LE_READER_H
#define SAMBREL_SIM_LE_READER_H

#include "coredll_types.h"

#include <cstddef>
#include <optional>
#include <string>

namespace sim {

class LeReader {
public:
    LeReader(const BYTE *p, size_t size) : p_(p), size_(size) {}

    bool Ok() const { return ok_; }
    size_t Pos() const { return pos_; }
    void Seek(size_t pos)
    {
        if (pos > size_)
            ok_ = false;
        else
            pos_ = pos;
    }
    void AlignDword() { Seek((pos_ + 3) & ~static_cast<size_t>(3)); }
    void Skip(size_t n) { Seek(n > size_ - pos_ ? size_ + 1 : pos_ + n); }

    BYTE Byte()
    {
        if (size_ - pos_ < 1) {
            ok_ = false;
            return 0;
        }
        return p_[pos_++];
    }
    WORD Word()
    {
        if (size_ - pos_ < 2) {
            ok_ = false;
            return 0;
        }
        WORD w = static_cast<WORD>(p_[pos_] | (p_[pos_ + 1] << 8));
        pos_ += 2;
        return w;
    }
    short Short() { return static_cast<short>(Word()); }
    DWORD Dword()
    {
        WORD lo = Word();
        WORD hi = Word();
        return lo | (static_cast<DWORD>(hi) << 16);
    }
    // A zero-terminated string of words.
    std::u16string String()
    {
        std::u16string s;
        for (WORD w = Word(); ok_ && w != 0; w = Word())
            s.push_back(static_cast<char16_t>(w));
        return s;
    }
    // A string, or 0xFFFF and a 16-bit ordinal (then the string is empty).
    std::u16string StringOrOrdinal(std::optional<WORD> *ordinal = nullptr)
    {
        if (size_ - pos_ >= 2 && p_[pos_] == 0xFF && p_[pos_ + 1] == 0xFF) {
            Word();
            WORD ord = Word();
            if (ordinal)
                *ordinal = ord;
            return u"";
        }
        return String();
    }

private:
    const BYTE *p_;
    size_t size_;
    size_t pos_ = 0;
    bool ok_ = true;
};

} // namespace sim

#endif
