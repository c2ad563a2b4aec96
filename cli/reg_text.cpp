// Keys and values in the notation of .reg files.
#include "reg_text.h"

#include "wtext.h"

#include <cstdio>

namespace cli {
namespace {

std::string Quoted(std::u16string_view text)
{
    std::string out = "\"";
    for (char c : sim::Utf8(text)) {
        if (c == '\\' || c == '"')
            out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

std::string Hex(const std::vector<BYTE> &data)
{
    std::string out;
    char buf[4];
    for (size_t i = 0; i < data.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02x", data[i]);
        if (i)
            out.push_back(',');
        out += buf;
    }
    return out;
}

// A REG_SZ that can be written as "text": whole characters, one
// terminator at the end and none before it.
bool PlainString(const std::vector<BYTE> &data, std::u16string &text)
{
    if (data.size() < 2 || data.size() % 2)
        return false;
    text.clear();
    for (size_t i = 0; i + 2 < data.size(); i += 2) {
        char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (!c)
            return false;
        text.push_back(c);
    }
    return data[data.size() - 2] == 0 && data.back() == 0;
}

} // namespace

std::string RegValueLine(const sim::RegValue &value)
{
    std::string line = value.name.empty() ? "@" : Quoted(value.name);
    line.push_back('=');
    std::u16string text;
    if (value.type == REG_SZ && PlainString(value.data, text)) {
        line += Quoted(text);
    } else if (value.type == REG_DWORD && value.data.size() == 4) {
        char buf[16];
        unsigned v = value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                     (static_cast<unsigned>(value.data[3]) << 24);
        std::snprintf(buf, sizeof buf, "dword:%08x", v);
        line += buf;
    } else if (value.type == REG_BINARY) {
        line += "hex:" + Hex(value.data);
    } else {
        char buf[24];
        std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(value.type));
        line += buf + Hex(value.data);
    }
    return line;
}

std::string RegKeySection(const std::string &path, const sim::RegKey &key)
{
    std::string out = "[" + path + "]\n";
    for (const auto &v : key.values)
        out += RegValueLine(v) + "\n";
    return out;
}

} // namespace cli
