// The default handheld's registry: the active drivers of a typical device
// (serial port on COM1:, raw infrared on COM2:, infrared COMM on COM3:,
// and drivers of other kinds), and no ExtModems key.
#include "default_handheld.h"

#include "wtext.h"

#include <string>
#include <vector>

namespace cli {
namespace {

std::vector<BYTE> Sz(const std::string &text)
{
    std::u16string w = sim::U16(text);
    std::vector<BYTE> bytes;
    for (char16_t c : w) {
        bytes.push_back(static_cast<BYTE>(c & 0xFF));
        bytes.push_back(static_cast<BYTE>(c >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

std::vector<BYTE> Dword(DWORD v)
{
    return {static_cast<BYTE>(v), static_cast<BYTE>(v >> 8), static_cast<BYTE>(v >> 16),
            static_cast<BYTE>(v >> 24)};
}

struct Driver {
    const char *entry;
    const char *key;
    const char *name; // nullptr for a driver without a device name
    DWORD handle;
};

const Driver kDrivers[] = {
    {"01", "Drivers\\Builtin\\Serial", "COM1:", 0x00041a30},
    {"02", "Drivers\\Builtin\\IrDA", "COM2:", 0x00041b90},
    {"03", "Drivers\\Builtin\\IrCOMM", "COM3:", 0x00041c40},
    {"04", "Drivers\\Builtin\\Battery", "BAT1:", 0x00041d10},
    {"05", "Drivers\\PCMCIA\\ATADisk", "DSK1:", 0x00042020},
    {"06", "Drivers\\Builtin\\Touch", nullptr, 0x00042180},
};

} // namespace

void FillDefaultRegistry(sim::Registry &registry)
{
    for (const auto &d : kDrivers) {
        std::u16string path = u"Drivers\\Active\\" + sim::U16(d.entry);
        registry.SetValue(HKEY_LOCAL_MACHINE, path, u"Key", REG_SZ, Sz(d.key));
        if (d.name)
            registry.SetValue(HKEY_LOCAL_MACHINE, path, u"Name", REG_SZ, Sz(d.name));
        registry.SetValue(HKEY_LOCAL_MACHINE, path, u"Hnd", REG_DWORD, Dword(d.handle));
        registry.SetValue(HKEY_LOCAL_MACHINE, path, u"ClientInfo", REG_BINARY, {0, 0, 0, 0});
    }
    registry.SetValue(HKEY_LOCAL_MACHINE, u"Drivers\\Builtin\\Serial", u"Prefix", REG_SZ, Sz("COM"));
    registry.SetValue(HKEY_LOCAL_MACHINE, u"Drivers\\Builtin\\Serial", u"Index", REG_DWORD, Dword(1));
    registry.SetValue(HKEY_LOCAL_MACHINE, u"Drivers\\Builtin\\Serial", u"Dll", REG_SZ,
                      Sz("Serial.Dll"));
    registry.SetValue(HKEY_LOCAL_MACHINE, u"Comm\\IrDA", u"Port", REG_SZ, Sz("COM2:"));
    registry.SetValue(HKEY_CURRENT_USER, u"ControlPanel\\Owner", u"Owner", REG_SZ, Sz("H/PC user"));
}

} // namespace cli
