// UTF-16 to UTF-8 a character at a time, inline for the writers that
// encode text straight into their buffers (the .reg writer's) as well as
// for text::Utf8.
#ifndef SAMBREL_TEXT_UTF8_ENCODER_H
#define SAMBREL_TEXT_UTF8_ENCODER_H

namespace text {

inline bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c < 0xDC00; }
inline bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c < 0xE000; }

// The code point of a surrogate pair.
inline char32_t FromSurrogates(char32_t high, char32_t low)
{
    return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

// Writes cp's one to four UTF-8 bytes at to; where they end.
inline char *PutUtf8(char *to, char32_t cp)
{
    if (cp < 0x80) {
        *to++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
        *to++ = static_cast<char>(0xC0 | (cp >> 6));
        *to++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *to++ = static_cast<char>(0xE0 | (cp >> 12));
        *to++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *to++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *to++ = static_cast<char>(0xF0 | (cp >> 18));
        *to++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *to++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *to++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    return to;
}

} // namespace text

#endif
