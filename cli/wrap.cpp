#include "cli/wrap.h"

namespace cli {

std::vector<std::u16string> WrapText(std::u16string_view text, size_t width)
{
    std::vector<std::u16string> lines;
    std::u16string line;
    size_t i = 0;
    if (width == 0)
        width = 1;
    while (i < text.size()) {
        if (text[i] == u'\n' || text[i] == u'\r') {
            lines.push_back(line);
            line.clear();
            i += text.substr(i, 2) == u"\r\n" ? 2 : 1;
            continue;
        }
        size_t end = i;
        while (end < text.size() && text[end] != u' ' && text[end] != u'\n' && text[end] != u'\r')
            ++end;
        std::u16string_view word = text.substr(i, end - i);
        size_t spaces = 0;
        while (end + spaces < text.size() && text[end + spaces] == u' ')
            ++spaces;
        if (!line.empty() && line.size() + word.size() > width) {
            while (!line.empty() && line.back() == u' ')
                line.pop_back();
            lines.push_back(line);
            line.clear();
        }
        while (word.size() > width) {
            lines.push_back(std::u16string(word.substr(0, width)));
            word.remove_prefix(width);
        }
        line += word;
        line.append(spaces, u' ');
        i = end + spaces;
    }
    while (!line.empty() && line.back() == u' ')
        line.pop_back();
    if (!line.empty() || lines.empty())
        lines.push_back(line);
    return lines;
}

} // namespace cli
