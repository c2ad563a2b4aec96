#include "text/shown.h"

#include <cstdio>

namespace text {
namespace {

void Escape(std::string &out, const char *format, unsigned char c)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, format, c);
    out += buf;
}

bool IsC1(std::string_view text, std::size_t i)
{
    return static_cast<unsigned char>(text[i]) == 0xC2 && i + 1 < text.size() &&
           static_cast<unsigned char>(text[i + 1]) >= 0x80 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
}

} // namespace

std::string Shown(std::string_view text, const ShowOptions &options)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((options.counted == ShowOptions::Given ? i : out.size()) >= options.limit) {
            out += "...";
            break;
        }
        auto c = static_cast<unsigned char>(text[i]);
        if ((c < 0x20 && !(options.lineEnds && c == '\n')) || c == 0x7F || (c >= 0x80 && !options.utf8))
            Escape(out, "\\x%02x", c);
        else if (options.utf8 && IsC1(text, i))
            Escape(out, "\\u%04x", static_cast<unsigned char>(text[++i]));
        else
            out.push_back(static_cast<char>(c));
    }
    return out;
}

} // namespace text
