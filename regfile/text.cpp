// Character encodings of .reg files.
#include "text.h"

namespace regfile {
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

std::optional<unsigned char> ToCp1252(char16_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return static_cast<unsigned char>(c);
    for (unsigned i = 0; i < 32; ++i)
        if (kCp1252High[i] == c)
            return static_cast<unsigned char>(0x80 + i);
    return std::nullopt;
}

namespace {

// Walks UTF-8 strictly, handing each code point to put; on failure gives
// the byte offset of the fault.
template <typename Put>
bool WalkUtf8(std::string_view bytes, Put put, size_t &badAt)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    size_t n = bytes.size();
    for (size_t i = 0; i < n;) {
        unsigned char b = p[i];
        if (b < 0x80) {
            put(b);
            ++i;
            continue;
        }
        size_t extra;
        char32_t cp, min;
        if ((b & 0xE0) == 0xC0) {
            extra = 1, cp = b & 0x1Fu, min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2, cp = b & 0x0Fu, min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3, cp = b & 0x07u, min = 0x10000;
        } else {
            badAt = i;
            return false;
        }
        if (n - i <= extra) {
            badAt = i;
            return false;
        }
        for (size_t k = 1; k <= extra; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) {
                badAt = i;
                return false;
            }
            cp = (cp << 6) | (p[i + k] & 0x3Fu);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) {
            badAt = i;
            return false;
        }
        put(cp);
        i += extra + 1;
    }
    return true;
}

} // namespace

bool DecodeUtf8(std::string_view bytes, std::u16string &out, size_t &badAt)
{
    // Never more code units than bytes; written in place, then cut to size.
    out.resize(bytes.size());
    char16_t *w = &out[0];
    bool ok = WalkUtf8(bytes, [&](char32_t cp) {
        if (cp >= 0x10000) {
            cp -= 0x10000;
            *w++ = static_cast<char16_t>(0xD800 + (cp >> 10));
            *w++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            *w++ = static_cast<char16_t>(cp);
        }
    }, badAt);
    out.resize(ok ? static_cast<size_t>(w - out.data()) : 0);
    return ok;
}

bool ValidUtf8(std::string_view bytes, size_t &badAt)
{
    return WalkUtf8(bytes, [](char32_t) {}, badAt);
}

} // namespace regfile
