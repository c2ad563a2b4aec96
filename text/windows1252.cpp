// Windows-1252.
#include "text/windows1252.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace text {
namespace {

// 0x80 to 0x9F; the five bytes Windows-1252 leaves undefined map to the C1
// control characters of the same number, as Windows converts them.
const char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

} // namespace

char16_t FromCp1252(unsigned char c)
{
    if (c >= 0x80 && c < 0xA0)
        return kCp1252High[c - 0x80];
    return c;
}

char16_t *FromCp1252(const char *bytes, size_t n, char16_t *out)
{
    size_t i = 0;
#if defined(__SSE2__)
    // Sixteen bytes at a time where the processor has the instructions:
    // ASCII and Latin-1 are the same characters as bytes and as UTF-16, so
    // sixteen bytes below 0x80 are widened with zeros; the others, a
    // character at a time.
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes + i));
        if (_mm_movemask_epi8(v)) {
            for (size_t k = i; k < i + 16; ++k)
                out[k] = FromCp1252(static_cast<unsigned char>(bytes[k]));
            continue;
        }
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm_unpacklo_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i + 8), _mm_unpackhi_epi8(v, zero));
    }
    if (i + 8 <= n) {
        __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(bytes + i));
        if (!_mm_movemask_epi8(v)) {
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm_unpacklo_epi8(v, zero));
            i += 8;
        }
    }
#endif
    for (; i < n; ++i)
        out[i] = FromCp1252(static_cast<unsigned char>(bytes[i]));
    return out + n;
}

std::optional<unsigned char> ToCp1252(char16_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return static_cast<unsigned char>(c);
    for (unsigned i = 0; i < 32; ++i)
        if (kCp1252High[i] == c)
            return static_cast<unsigned char>(0x80 + i);
    return std::nullopt;
}

} // namespace text
