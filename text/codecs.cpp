// Text codecs: UTF-8 and UTF-16LE, one of each.
#include "text/codecs.h"

#include "text/utf8_encoder.h"

#include <algorithm>

namespace text {

namespace {

// Walks UTF-8, handing each code point to put. A sequence that is not
// UTF-8 (a bad lead or continuation byte, a sequence cut short, an overlong
// form, a surrogate or a code point past U+10FFFF) is handed to bad with its
// offset; bad returns whether to go on.
template <typename Put, typename Bad>
void WalkUtf8(std::string_view bytes, Put put, Bad bad)
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
        size_t extra = 0;
        char32_t cp = 0, min = 0;
        if ((b & 0xE0) == 0xC0)
            extra = 1, cp = b & 0x1Fu, min = 0x80;
        else if ((b & 0xF0) == 0xE0)
            extra = 2, cp = b & 0x0Fu, min = 0x800;
        else if ((b & 0xF8) == 0xF0)
            extra = 3, cp = b & 0x07u, min = 0x10000;
        bool ok = extra > 0 && n - i > extra;
        for (size_t k = 1; ok && k <= extra; ++k) {
            ok = (p[i + k] & 0xC0) == 0x80;
            cp = (cp << 6) | (p[i + k] & 0x3Fu);
        }
        ok = ok && cp >= min && cp <= 0x10FFFF && !IsHighSurrogate(cp) && !IsLowSurrogate(cp);
        if (!ok) {
            if (!bad(i))
                return;
            ++i;
            continue;
        }
        put(cp);
        i += extra + 1;
    }
}

void PutUtf16(std::u16string &out, char32_t cp)
{
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(cp));
    }
}

} // namespace

bool DecodeUtf8(std::string_view utf8, std::u16string &out, Utf8Errors policy, size_t *badAt)
{
    out.clear();
    out.reserve(utf8.size());
    bool ok = true;
    WalkUtf8(utf8, [&](char32_t cp) { PutUtf16(out, cp); },
             [&](size_t at) {
                 if (policy == Utf8Errors::Replace) {
                     out.push_back(u'\uFFFD');
                     return true;
                 }
                 if (badAt)
                     *badAt = at;
                 ok = false;
                 return false;
             });
    if (!ok)
        out.clear();
    return ok;
}

bool ValidUtf8(std::string_view utf8, size_t *badAt)
{
    bool ok = true;
    WalkUtf8(utf8, [](char32_t) {},
             [&](size_t at) {
                 if (badAt)
                     *badAt = at;
                 return ok = false;
             });
    return ok;
}

std::u16string U16(std::string_view utf8)
{
    std::u16string out;
    DecodeUtf8(utf8, out, Utf8Errors::Replace);
    return out;
}

std::vector<unsigned char> Utf16Bytes(std::u16string_view text, bool terminate)
{
    std::vector<unsigned char> out(text.size() * 2 + (terminate ? 2 : 0), 0);
    for (size_t i = 0; i < text.size(); ++i) {
        out[2 * i] = static_cast<unsigned char>(text[i] & 0xFF);
        out[2 * i + 1] = static_cast<unsigned char>(text[i] >> 8);
    }
    return out;
}

std::u16string FromUtf16Bytes(const unsigned char *bytes, size_t size)
{
    std::u16string out(size / 2, u'\0');
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    return out;
}

std::string Utf8(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (IsHighSurrogate(cp) && i + 1 < text.size() && IsLowSurrogate(text[i + 1]))
            cp = FromSurrogates(cp, text[++i]);
        else if (IsHighSurrogate(cp) || IsLowSurrogate(cp))
            cp = 0xFFFD;
        char bytes[4];
        out.append(bytes, PutUtf8(bytes, cp));
    }
    return out;
}

} // namespace text
