#include "text/ascii.h"

namespace text {

std::string AsciiFolded(std::string_view s, AsciiCase to)
{
    const char from = to == AsciiCase::Lower ? 'A' : 'a', into = to == AsciiCase::Lower ? 'a' : 'A';
    std::string out(s);
    for (char &c : out)
        if (c >= from && c <= from + ('Z' - 'A'))
            c = static_cast<char>(c - from + into);
    return out;
}

} // namespace text
