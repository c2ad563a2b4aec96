#include "cli/shown.h"

#include <cstdio>

namespace cli {

std::string Shown(const std::string &utf8, bool keepLineEnds, size_t max)
{
    std::string out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        if (out.size() >= max) {
            out += "...";
            break;
        }
        auto c = static_cast<unsigned char>(utf8[i]);
        bool c1 = c == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) >= 0x80 &&
                  static_cast<unsigned char>(utf8[i + 1]) < 0xA0;
        if ((c < 0x20 && !(keepLineEnds && c == '\n')) || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        } else if (c1) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned char>(utf8[++i]));
            out += buf;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

} // namespace cli
