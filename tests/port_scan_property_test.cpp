// For thousands of random registries, the mask the scan yields equals an
// independent reading of the rules, written here from the rules alone.
#include "tests/device.h"
#include "ports/ports.h"

#include <algorithm>
#include <map>
#include <random>

namespace {

using test::Device;

struct RandomValue {
    std::string name;
    DWORD type;
    std::vector<BYTE> data;
};

struct RandomEntry {
    std::string name;
    std::vector<RandomValue> values;
};

// The rules: entries and values in name order without case (a prefix
// first), at most 100 of each; a name of 64 characters or more, or data over
// 80 bytes, ends its loop; only REG_SZ counts; the text is the characters
// returned (a lone last byte as a character of that low byte), up to the
// first zero; the friendly name ends the
// entry in ExtModems; "COM" and a fourth character whose low byte, read as
// signed, is '0' to '?' marks that port.
ComPortMask Expected(std::vector<RandomEntry> entries, bool stopOnFriendly)
{
    auto lower = [](std::string s) {
        for (auto &c : s)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    auto byName = [&](const auto &a, const auto &b) { return lower(a.name) < lower(b.name); };
    std::sort(entries.begin(), entries.end(), byName);
    unsigned mask = 0;
    for (size_t i = 0; i < entries.size() && i < 100; ++i) {
        if (entries[i].name.size() >= 64)
            break;
        auto values = entries[i].values;
        std::sort(values.begin(), values.end(), byName);
        for (size_t j = 0; j < values.size() && j < 100; ++j) {
            const RandomValue &v = values[j];
            if (v.name.size() >= 64 || v.data.size() > 80)
                break;
            if (v.type != REG_SZ)
                continue;
            std::u16string text;
            for (size_t k = 0; k < v.data.size(); k += 2) {
                // A last lone byte is half a character: its low byte.
                char16_t c = static_cast<char16_t>(v.data[k] | (k + 1 < v.data.size() ? v.data[k + 1] << 8 : 0));
                if (!c)
                    break;
                text.push_back(c);
            }
            if (stopOnFriendly && text == u"Quelm Phone on Infrared port")
                break;
            if (text.size() < 4 || text.compare(0, 3, u"COM") != 0)
                continue;
            int low = static_cast<signed char>(text[3] & 0xFF);
            if (low >= '0' && low <= '?')
                mask |= 1u << (low - '0');
        }
    }
    return static_cast<ComPortMask>(mask);
}

class Generator {
public:
    explicit Generator(unsigned seed) : rng_(seed) {}

    int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    bool Chance(int percent) { return Int(1, 100) <= percent; }

    std::string Name()
    {
        static const char kChars[] = "abcXYZ019_ -.";
        int length = Chance(5) ? Int(60, 70) : Int(1, 6);
        std::string s;
        for (int i = 0; i < length; ++i)
            s.push_back(kChars[Int(0, sizeof kChars - 2)]);
        return s;
    }

    std::vector<BYTE> Data()
    {
        static const char16_t kFourth[] = u"0123456789:;<=>?@/ \u0135\u01b5\u00b5\u3039";
        std::u16string text;
        switch (Int(0, 6)) {
        case 0: text = u"COM"; text.push_back(kFourth[Int(0, 20)]); text += u":"; break;
        case 1: text = u"COM"; break;
        case 2: text = u"com5:"; break;
        case 3: text = u"Quelm Phone on Infrared port"; break;
        case 4: text = std::u16string(static_cast<size_t>(Int(30, 45)), u'x'); break;
        case 5: text = u"CO"; break;
        default: text = u"COM" + std::u16string(1, kFourth[Int(0, 20)]); text += std::u16string(static_cast<size_t>(Int(0, 40)), u'9'); break;
        }
        std::vector<BYTE> bytes = text::Utf16Bytes(text, Chance(60));
        if (Chance(10) && !bytes.empty())
            bytes.pop_back(); // an odd size
        if (Chance(5))
            bytes.clear();
        return bytes;
    }

    DWORD Type()
    {
        static const DWORD kTypes[] = {REG_SZ, REG_SZ, REG_SZ, REG_SZ, REG_MULTI_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_NONE};
        return kTypes[Int(0, 8)];
    }

    std::vector<RandomEntry> Tree()
    {
        std::vector<RandomEntry> entries;
        std::map<std::string, bool> seen;
        int count = Chance(3) ? Int(95, 105) : Int(0, 8);
        for (int i = 0; i < count; ++i) {
            RandomEntry e{Name(), {}};
            std::string key = Lower(e.name);
            if (seen[key])
                continue;
            seen[key] = true;
            std::map<std::string, bool> seenValues;
            int values = Chance(3) ? Int(95, 105) : Int(0, 6);
            for (int j = 0; j < values; ++j) {
                RandomValue v{Name(), Type(), Data()};
                if (seenValues[Lower(v.name)])
                    continue;
                seenValues[Lower(v.name)] = true;
                e.values.push_back(v);
            }
            entries.push_back(e);
        }
        return entries;
    }

private:
    static std::string Lower(std::string s)
    {
        for (auto &c : s)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    }
    std::mt19937 rng_;
};

TEST(PortScanProperty, MatchesTheRulesOnRandomRegistries)
{
    Generator gen(20261208);
    for (int round = 0; round < 3000; ++round) {
        Device d;
        auto drivers = gen.Tree();
        auto modems = gen.Tree();
        d.Key("Drivers\\Active");
        d.Key("ExtModems");
        // Values go in in random order; the registry keeps its own.
        for (auto *tree : {&drivers, &modems}) {
            std::string root = tree == &drivers ? "Drivers\\Active\\" : "ExtModems\\";
            for (const auto &e : *tree) {
                d.Key(root + e.name);
                for (const auto &v : e.values)
                    d.Raw(root + e.name, v.name, v.type, v.data);
            }
        }
        ASSERT_EQ(ScanActiveDrivers(), Expected(drivers, false)) << "round " << round;
        ASSERT_EQ(ScanExtModems(), Expected(modems, true)) << "round " << round;
        ASSERT_EQ(d.handheld.registry().OpenHandleCount(), 0u);
    }
}

} // namespace
