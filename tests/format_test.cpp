// The simulated handheld's bounded formatter and its wsprintfW limit, and
// ShowMessage's 128-character text. The formatter's conversions, as Wine's
// wsprintfW writes them, are conformance checks (tests/conformance).
#include "tests/device.h"
#include "platform/sim/public/format.h"
#include "ui/ui.h"

#include <cstring>

namespace {

using test::Device;

int FormatInto(WCHAR *out, int cap, const char16_t *format, ...)
{
    va_list args;
    va_start(args, format);
    int n = sim::FormatW(out, cap, format, args);
    va_end(args);
    return n;
}

// A bounded format never writes past the capacity it is given: a text of
// cap - 1 characters fits, cap and cap + 1 are cut and terminated.
TEST(WideFormatter, BoundedFormatStaysInsideItsBuffer)
{
    const int cap = 8;
    struct Case {
        int length;
        int returns;
        std::u16string stored;
    };
    const Case cases[] = {
        {cap - 1, cap - 1, u"ABCDEFG"},
        {cap, -1, u"ABCDEFG"},
        {cap + 1, -1, u"ABCDEFG"},
        {0, 0, u""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("text of " + std::to_string(c.length));
        WCHAR guarded[cap + 2];
        for (auto &w : guarded)
            w = 0xA5A5;
        std::u16string text = std::u16string(u"ABCDEFGHIJ").substr(0, static_cast<size_t>(c.length));
        EXPECT_EQ(FormatInto(guarded + 1, cap, u"%s", text.c_str()), c.returns);
        EXPECT_EQ(std::u16string(guarded + 1), c.stored);
        EXPECT_EQ(guarded[0], 0xA5A5);
        EXPECT_EQ(guarded[cap + 1], 0xA5A5);
    }
}

TEST(WideFormatter, ZeroCapacityWritesNothing)
{
    WCHAR sentinel = 0xA5A5;
    EXPECT_EQ(FormatInto(&sentinel, 0, u"x"), -1);
    EXPECT_EQ(sentinel, 0xA5A5);
}

TEST(WideFormatter, UnboundedFormatStopsAtWsprintfsLimit)
{
    std::vector<WCHAR> out(2000, 0xA5A5);
    std::u16string longText(1500, u'x');
    int n = coredll::wsprintfW(out.data(), u"%s", longText.c_str());
    EXPECT_EQ(n, sim::kWsprintfLimit - 1);
    EXPECT_EQ(out[sim::kWsprintfLimit - 1], 0);
    EXPECT_EQ(out[sim::kWsprintfLimit], 0xA5A5);
}

TEST(ShowMessage, ShowsTheFormattedTextUnderAtWithOkAndForeground)
{
    Device d;
    ShowMessage(u"#RegOpenKeyEx(): %d", 2);
    ASSERT_EQ(d.handheld.messages().size(), 1u);
    EXPECT_EQ(d.handheld.messages()[0].text, u"#RegOpenKeyEx(): 2");
    EXPECT_EQ(d.handheld.messages()[0].caption, u"@");
    EXPECT_EQ(d.handheld.messages()[0].flags, 0x00010000u);
}

// The message text holds 127 characters and its terminator.
TEST(ShowMessage, CutsLongTextsAt127Characters)
{
    for (size_t length : {126u, 127u, 128u, 129u, 600u}) {
        SCOPED_TRACE("text of " + std::to_string(length));
        Device d;
        std::u16string text(length, u'm');
        ShowMessage(u"%s", text.c_str());
        ASSERT_EQ(d.handheld.messages().size(), 1u);
        EXPECT_EQ(d.handheld.messages()[0].text, text.substr(0, 127));
    }
}

// ShowMessage composes its text itself, since the handheld has no bounded
// formatter; what fits must read as wsprintfW writes it, and a number or a
// literal tail that crosses the 127th character is cut there.
TEST(ShowMessage, ComposesAsWsprintfWithinTheBound)
{
    const std::u16string m125(125, u'm');
    struct Case {
        const char *name;
        std::u16string format;
        int number;
        const char16_t *text;
    } cases[] = {
        {"error code", u"#RegOpenKeyEx(): %d", 2, nullptr},
        {"negative", u"#RegOpenKeyEx(): %d", -2147483647 - 1, nullptr},
        {"text", u"Infrared port is now %s.  Please, reset (boot) your handheld PC next.", 0, u"COM5:"},
        {"null text", u"[%s]", 0, nullptr},
        {"percent", u"100%% %q", 0, nullptr},
        {"trailing percent", u"ends in %", 0, nullptr},
        {"number across the end", m125 + u"%d", -12345, nullptr},
        {"text across the end", m125 + u"%s", 0, u"COM5:"},
        {"literal across the end", m125 + u"%dabc", 7, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Device d;
        bool hasText = c.format.find(u"%s") != std::u16string::npos;
        if (hasText)
            ShowMessage(c.format.c_str(), c.text);
        else
            ShowMessage(c.format.c_str(), c.number);
        WCHAR expected[1024];
        if (hasText)
            coredll::wsprintfW(expected, c.format.c_str(), c.text);
        else
            coredll::wsprintfW(expected, c.format.c_str(), c.number);
        ASSERT_EQ(d.handheld.messages().size(), 1u);
        EXPECT_EQ(d.handheld.messages()[0].text, std::u16string(expected).substr(0, 127));
    }
}

} // namespace
