// Helpers of the simulated-handheld tests.
#include "tests/device.h"

#include "app/winmain.h"

namespace test {

std::vector<BYTE> Utf16(const std::string &text, bool terminate)
{
    return text::Utf16Bytes(text::U16(text), terminate);
}

std::vector<BYTE> DwordBytes(DWORD v)
{
    return {static_cast<BYTE>(v), static_cast<BYTE>(v >> 8), static_cast<BYTE>(v >> 16),
            static_cast<BYTE>(v >> 24)};
}

void Device::Fail(sim::Operation operation, const std::string &item, LONG error)
{
    handheld.faults().Add({operation, text::U16(item), error, std::nullopt});
}

void Device::FailAlways(sim::Operation operation, LONG error)
{
    handheld.faults().Add({operation, std::nullopt, error, std::nullopt});
}

int Device::Run(std::vector<sim::DialogInput> inputs)
{
    for (const auto &in : inputs)
        user.Add(in);
    WCHAR commandLine[] = u"ignored /s";
    return WinMain(handheld.Instance(), nullptr, commandLine, 1);
}

std::vector<std::string> Device::Messages() const
{
    std::vector<std::string> out;
    for (const auto &box : handheld.messages())
        out.push_back(text::Utf8(box.text));
    return out;
}

void ExpectMessagesAt(const char *file, int line, const Device &device,
                      const std::vector<std::string> &expected)
{
    ::testing::ScopedTrace trace(file, line, "messages shown");
    EXPECT_EQ(device.Messages(), expected);
    for (const auto &box : device.handheld.messages()) {
        EXPECT_EQ(box.caption, u"@");
        EXPECT_EQ(box.flags, 0x00010000u);
    }
}

void ExpectSzAt(const char *file, int line, const Device &device, const std::string &path,
                const std::string &name, const std::string &text)
{
    ::testing::ScopedTrace trace(file, line, path + " " + name);
    const registry::RegValue *v = device.Value(path, name);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(v->Data().Copy(), Utf16(text));
}

} // namespace test
