// Key and value names in the registry's order.
#ifndef SAMBREL_REGISTRY_NAMES_H
#define SAMBREL_REGISTRY_NAMES_H

#include <cstdint>
#include <cstring>
#include <string_view>

namespace registry {

// The registry's case folding, as Wine's: every character of the Basic
// Multilingual Plane to its simple lower case.
char16_t FoldWide(char16_t c); // any character, through the table
inline char16_t FoldCase(char16_t c)
{
    if (c < 0x80) // most names: plain ASCII
        return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 0x20) : c;
    return FoldWide(c);
}
bool EqualNoCase(std::u16string_view a, std::u16string_view b);
// Wine's order for key and value names: folded characters compared in turn,
// and a name that is a prefix of the other comes first.
int CompareFoldedNames(std::u16string_view a, std::u16string_view b);
// Four characters below 0x80, each of 16 bits in a number, with A to Z
// turned to a to z at once.
inline std::uint64_t FoldAsciiLanes(std::uint64_t x)
{
    constexpr std::uint64_t kLanes = 0x0001000100010001u;
    std::uint64_t fromA = x + kLanes * (0x80 - 'A'); // 0x80 set where x >= 'A'
    std::uint64_t pastZ = x + kLanes * (0x80 - 'Z' - 1); // 0x80 set where x > 'Z'
    return x | ((fromA & ~pastZ & kLanes * 0x80) >> 2);
}

// The same, at once for the plain ASCII most names are; from the first
// other character on, through the whole folding.
inline int CompareNames(std::u16string_view a, std::u16string_view b)
{
    size_t n = a.size() < b.size() ? a.size() : b.size();
    size_t i = 0;
    for (; i + 4 <= n; i += 4) { // four characters at a time
        std::uint64_t x, y;
        std::memcpy(&x, a.data() + i, 8);
        std::memcpy(&y, b.data() + i, 8);
        if (x == y)
            continue;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        // The first character is the low lane.
        if ((x | y) & 0xFF80FF80FF80FF80u)
            break;
        std::uint64_t fx = FoldAsciiLanes(x), fy = FoldAsciiLanes(y);
        if (fx == fy)
            continue;
        unsigned lane = static_cast<unsigned>(__builtin_ctzll(fx ^ fy)) & ~15u;
        return (fx >> lane & 0xFFFF) < (fy >> lane & 0xFFFF) ? -1 : 1;
#else
        break;
#endif
    }
    for (; i < n; ++i) {
        char16_t ca = a[i], cb = b[i];
        if (ca == cb)
            continue;
        if (ca >= 0x80 || cb >= 0x80)
            return CompareFoldedNames(a.substr(i), b.substr(i));
        ca = ca >= u'A' && ca <= u'Z' ? static_cast<char16_t>(ca + 0x20) : ca;
        cb = cb >= u'A' && cb <= u'Z' ? static_cast<char16_t>(cb + 0x20) : cb;
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

} // namespace registry

#endif
