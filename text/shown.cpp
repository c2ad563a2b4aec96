#include "text/shown.h"

#include <cstdio>

namespace text {
namespace {

void Escape(std::string &out, const char *format, unsigned c)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, format, c);
    out += buf;
}

unsigned char At(std::string_view text, std::size_t i) { return static_cast<unsigned char>(text[i]); }

// The length of the well-formed UTF-8 sequence that starts at i (no
// overlong forms, surrogates or code points past U+10FFFF), or 0: a byte
// that is not part of one is shown escaped, since a lone 0x9B is a
// terminal's CSI.
std::size_t SequenceAt(std::string_view text, std::size_t i)
{
    unsigned char c = At(text, i);
    std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    if (c < 0xC2 || c > 0xF4 || i + length > text.size())
        return 0;
    // The second byte's range, which rules out what is overlong or too high.
    unsigned char low = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
    unsigned char high = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
    if (At(text, i + 1) < low || At(text, i + 1) > high)
        return 0;
    for (std::size_t k = 2; k < length; ++k)
        if ((At(text, i + k) & 0xC0) != 0x80)
            return 0;
    return length;
}

// The character of the well-formed three-byte sequence at i.
char32_t ThreeByteAt(std::string_view text, std::size_t i)
{
    return (At(text, i) & 0x0Fu) << 12 | (At(text, i + 1) & 0x3Fu) << 6 | (At(text, i + 2) & 0x3Fu);
}

} // namespace

bool Reorders(char32_t c) { return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069); }

std::string Shown(std::string_view text, const ShowOptions &options)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((options.counted == ShowOptions::Given ? i : out.size()) >= options.limit) {
            out += "...";
            break;
        }
        unsigned char c = At(text, i);
        std::size_t sequence = c < 0x80 ? 1 : options.utf8 ? SequenceAt(text, i) : 0;
        if ((c < 0x20 && !(options.lineEnds && c == '\n')) || c == 0x7F || sequence == 0) {
            Escape(out, "\\x%02x", c);
        } else if (c == 0xC2 && At(text, i + 1) < 0xA0) { // a C1 control
            Escape(out, "\\u%04x", At(text, ++i));
        } else if (sequence == 3 && Reorders(ThreeByteAt(text, i))) {
            Escape(out, "\\u%04x", ThreeByteAt(text, i));
            i += 2;
        } else {
            out.append(text.substr(i, sequence));
            i += sequence - 1;
        }
    }
    return out;
}

} // namespace text
