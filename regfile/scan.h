// Finding the first of two characters in a run of text many bytes at a
// time, and copying the run before it as UTF-16 in the same sweep: line
// ends, quotes and backslashes are what a registry file's lines are cut
// at, and most of a file lies between them.
#ifndef SAMBREL_REGFILE_SCAN_H
#define SAMBREL_REGFILE_SCAN_H

#include "text/windows1252.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace regfile {

// Whether any 8-bit (or 16-bit) lane of v equals the low lane of pattern.
inline bool HasLane8(std::uint64_t v, std::uint64_t pattern)
{
    constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;
    std::uint64_t x = v ^ (kOnes * pattern);
    return ((x - kOnes) & ~x & kHighs) != 0;
}
inline bool HasLane16(std::uint64_t v, std::uint64_t pattern)
{
    constexpr std::uint64_t kOnes = 0x0001000100010001ull, kHighs = 0x8000800080008000ull;
    std::uint64_t x = v ^ (kOnes * pattern);
    return ((x - kOnes) & ~x & kHighs) != 0;
}

// The index of the first a or b in units[0, n), or n. Units are 8-bit, or
// 16-bit in the host's order.
template <typename Unit> size_t FindEither(const Unit *units, size_t n, Unit a, Unit b)
{
    constexpr size_t kPerWord = 8 / sizeof(Unit);
    size_t i = 0;
#if defined(__SSE2__)
    // Sixteen bytes at a time, or thirty-two, where the processor has the
    // instructions (every x86-64 does); the words below finish the run.
    constexpr size_t kPerVector = 16 / sizeof(Unit);
    const __m128i wantA = sizeof(Unit) == 1 ? _mm_set1_epi8(static_cast<char>(a)) : _mm_set1_epi16(static_cast<short>(a));
    const __m128i wantB = sizeof(Unit) == 1 ? _mm_set1_epi8(static_cast<char>(b)) : _mm_set1_epi16(static_cast<short>(b));
    auto hits = [&](size_t at) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(units + at));
        __m128i hit = sizeof(Unit) == 1 ? _mm_or_si128(_mm_cmpeq_epi8(v, wantA), _mm_cmpeq_epi8(v, wantB))
                                        : _mm_or_si128(_mm_cmpeq_epi16(v, wantA), _mm_cmpeq_epi16(v, wantB));
        return static_cast<unsigned>(_mm_movemask_epi8(hit));
    };
    for (; i + 2 * kPerVector <= n; i += 2 * kPerVector) // two at once, one test
        if (unsigned mask = hits(i) | hits(i + kPerVector) << 16)
            return i + static_cast<size_t>(__builtin_ctz(mask)) / sizeof(Unit);
    for (; i + kPerVector <= n; i += kPerVector)
        if (unsigned mask = hits(i))
            return i + static_cast<size_t>(__builtin_ctz(mask)) / sizeof(Unit);
#endif
    for (; i + kPerWord <= n; i += kPerWord) {
        std::uint64_t v;
        std::memcpy(&v, units + i, 8);
        bool hit = sizeof(Unit) == 1 ? HasLane8(v, static_cast<std::uint64_t>(a) & 0xFF) ||
                                           HasLane8(v, static_cast<std::uint64_t>(b) & 0xFF)
                                     : HasLane16(v, static_cast<std::uint64_t>(a) & 0xFFFF) ||
                                           HasLane16(v, static_cast<std::uint64_t>(b) & 0xFFFF);
        if (hit)
            break;
    }
    for (; i < n; ++i)
        if (units[i] == a || units[i] == b)
            return i;
    return n;
}

// How many units a and b share from their start, of the first n.
template <typename Unit> size_t CommonPrefix(const Unit *a, const Unit *b, size_t n)
{
    size_t i = 0;
#if defined(__SSE2__)
    for (constexpr size_t kPerVector = 16 / sizeof(Unit); i + kPerVector <= n; i += kPerVector) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(a + i));
        __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + i));
        if (unsigned differ = ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, y))) & 0xFFFF)
            return i + static_cast<size_t>(__builtin_ctz(differ)) / sizeof(Unit);
    }
#endif
    while (i < n && a[i] == b[i])
        ++i;
    return i;
}

// A unit as UTF-16: 8-bit units are Windows-1252, whose ASCII half is the
// same.
inline char16_t WideUnit(char c)
{
    auto byte = static_cast<unsigned char>(c);
    return byte < 0x80 ? char16_t{byte} : text::FromCp1252(byte);
}
inline char16_t WideUnit(char16_t c) { return c; }

// Copies units[0, n) up to the first a or b as UTF-16 at out, and gives its
// index (or n). It may write anything up to out[n - 1] beyond the copy: out
// has room for n units.
template <typename Unit> size_t CopyUntilEither(const Unit *units, size_t n, Unit a, Unit b, char16_t *out)
{
    size_t i = 0;
#if defined(__SSE2__)
    // Sixteen bytes at a time, written before they are known to be wanted;
    // 8-bit text beyond ASCII is widened a unit at a time.
    constexpr size_t kPerVector = 16 / sizeof(Unit);
    const __m128i wantA = sizeof(Unit) == 1 ? _mm_set1_epi8(static_cast<char>(a)) : _mm_set1_epi16(static_cast<short>(a));
    const __m128i wantB = sizeof(Unit) == 1 ? _mm_set1_epi8(static_cast<char>(b)) : _mm_set1_epi16(static_cast<short>(b));
    for (; i + kPerVector <= n; i += kPerVector) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(units + i));
        int stop;
        if constexpr (sizeof(Unit) == 1) {
            if (_mm_movemask_epi8(v))
                break;
            const __m128i zero = _mm_setzero_si128();
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm_unpacklo_epi8(v, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i + 8), _mm_unpackhi_epi8(v, zero));
            stop = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, wantA), _mm_cmpeq_epi8(v, wantB)));
        } else {
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), v);
            stop = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi16(v, wantA), _mm_cmpeq_epi16(v, wantB)));
        }
        if (stop)
            return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(stop))) / sizeof(Unit);
    }
#endif
    for (; i < n; ++i) {
        if (units[i] == a || units[i] == b)
            return i;
        out[i] = WideUnit(units[i]);
    }
    return n;
}

} // namespace regfile

#endif
