// A simulated handheld for one test: the program's real resources, a
// registry the test fills, a scripted user, and helpers that report
// failures at the caller's file and line.
#ifndef SAMBREL_TESTS_DEVICE_H
#define SAMBREL_TESTS_DEVICE_H

#include "platform/coredll.h"
#include "platform/sim/public/handheld.h"
#include "platform/sim/public/program_resources.h"
#include "text/codecs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace test {

// UTF-16LE bytes of a text, with the terminator unless told otherwise.
std::vector<BYTE> Utf16(const std::string &text, bool terminate = true);
std::vector<BYTE> DwordBytes(DWORD value);

struct Device {
    explicit Device(const BYTE *image = sim::kProgramResources,
                    size_t size = sim::kProgramResourcesSize)
        : handheld(image, size, user), attach(handheld)
    {
    }

    // Sets a value under HKEY_LOCAL_MACHINE, creating the keys on the way.
    void Sz(const std::string &path, const std::string &name, const std::string &text)
    {
        Raw(path, name, REG_SZ, Utf16(text));
    }
    void Raw(const std::string &path, const std::string &name, DWORD type, std::vector<BYTE> data)
    {
        handheld.registry().SetValue(HKEY_LOCAL_MACHINE, text::U16(path), text::U16(name), type,
                                     std::move(data));
    }
    void Key(const std::string &path) { handheld.registry().CreateKey(HKEY_LOCAL_MACHINE, text::U16(path)); }
    void Fail(sim::Operation operation, const std::string &item, LONG error);
    void FailAlways(sim::Operation operation, LONG error);

    // Runs WinMain with the user doing these things to the dialog.
    int Run(std::vector<sim::DialogInput> inputs);
    int Choose(WORD id) { return Run({{sim::DialogInput::Click, id}}); }

    std::vector<std::string> Messages() const;
    bool HasKey(const std::string &path) const
    {
        return handheld.registry().FindKey(HKEY_LOCAL_MACHINE, text::U16(path)) != nullptr;
    }
    // The value (its type and bytes), or nullptr when there is none.
    const registry::RegValue *Value(const std::string &path, const std::string &name) const
    {
        return handheld.registry().FindValue(HKEY_LOCAL_MACHINE, text::U16(path), text::U16(name));
    }

    sim::ScriptedUser user;
    sim::Handheld handheld;
    sim::Handheld::Attach attach;
};

void ExpectMessagesAt(const char *file, int line, const Device &device,
                      const std::vector<std::string> &expected);
#define EXPECT_MESSAGES(device, ...) \
    ::test::ExpectMessagesAt(__FILE__, __LINE__, device, std::vector<std::string>__VA_ARGS__)

void ExpectSzAt(const char *file, int line, const Device &device, const std::string &path,
                const std::string &name, const std::string &text);
#define EXPECT_SZ(device, path, name, text) \
    ::test::ExpectSzAt(__FILE__, __LINE__, device, path, name, text)

} // namespace test

#endif
