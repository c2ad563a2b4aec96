// The simulated handheld's registry: a tree of keys with typed values, the
// open handles onto it, and the Win32 registry calls over both, with the
// results and buffer rules that Wine gives.
#ifndef SAMBREL_SIM_REGISTRY_H
#define SAMBREL_SIM_REGISTRY_H

#include "coredll_types.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct RegValue {
    std::u16string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

struct RegKey {
    std::u16string name;
    std::u16string className;
    std::uint64_t lastWrite = 0;
    bool deleted = false;
    // Both kept in the registry's enumeration order (CompareNames).
    std::vector<std::shared_ptr<RegKey>> subkeys;
    std::vector<RegValue> values;

    RegKey *FindSubkey(std::u16string_view name) const;
    const RegValue *FindValue(std::u16string_view name) const;
    // Creates or replaces a value; a name that sorts last is appended.
    void SetValue(std::u16string_view name, DWORD type, std::vector<BYTE> data);
    bool DeleteValue(std::u16string_view name);
};

// The longest key name component the registry takes, and how deep keys nest.
constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxKeyDepth = 512;

class Registry {
public:
    Registry();

    // The predefined roots: whether a handle is one, its key (nullptr for a
    // handle that is not one), its name, and all of them in order.
    static bool IsRoot(HKEY key);
    RegKey *Root(HKEY root) const;
    static const char *RootName(HKEY root);
    static std::vector<HKEY> Roots();

    // Direct access for whoever builds or inspects a device.
    RegKey *FindKey(HKEY root, std::u16string_view path) const;
    RegKey &CreateKey(HKEY root, std::u16string_view path);
    bool DeleteKey(HKEY root, std::u16string_view path);
    // For loading many keys at once: a new child appended at the end of
    // parent's subkeys, which the loader then puts back in order.
    RegKey &AppendSubkey(RegKey &parent, std::u16string_view name);
    void SetValue(HKEY root, std::u16string_view path, std::u16string_view name, DWORD type,
                  std::vector<BYTE> data);
    const RegValue *FindValue(HKEY root, std::u16string_view path, std::u16string_view name) const;

    // The Win32 calls. Access masks are ignored, as on the handheld.
    LONG CreateKeyEx(HKEY parent, LPCWSTR subkey, DWORD reserved, LPCWSTR cls, HKEY *result,
                     DWORD *disposition);
    LONG OpenKeyEx(HKEY parent, LPCWSTR subkey, DWORD options, HKEY *result);
    LONG EnumKeyEx(HKEY key, DWORD index, LPWSTR name, DWORD *nameLen, const DWORD *reserved,
                   LPWSTR cls, DWORD *classLen, FILETIME *lastWrite) const;
    LONG EnumValue(HKEY key, DWORD index, LPWSTR name, DWORD *nameLen, const DWORD *reserved,
                   DWORD *type, BYTE *data, DWORD *dataLen) const;
    LONG SetValueEx(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE *data,
                    DWORD size);
    LONG CloseKey(HKEY key);

    size_t OpenHandleCount() const;
    // Moves whenever a Win32 call changes the registry's content (a key
    // created, a value whose type or data differ written); writing what is
    // already there leaves it.
    std::uint64_t Changes() const { return changes_; }
    // A handle's key name (the root's name for a root); empty when invalid.
    std::u16string_view NameOf(HKEY key) const;

private:
    // Resolves a handle, or gives the error that using it returns.
    LONG Resolve(HKEY key, RegKey **out) const;
    // The open handle's slot in handles_; nullopt for a root or a bad handle.
    std::optional<size_t> SlotOf(HKEY key) const;
    HKEY NewHandle(std::shared_ptr<RegKey> key);
    std::shared_ptr<RegKey> SharedOf(HKEY key) const;
    // Resolves the parent of a Create or Open and splits the subkey path.
    LONG Walk(HKEY parent, LPCWSTR subkey, std::shared_ptr<RegKey> &start,
              std::vector<std::u16string_view> &parts) const;
    std::uint64_t Tick() { return ++clock_; }

    std::vector<std::shared_ptr<RegKey>> roots_;
    std::vector<std::shared_ptr<RegKey>> handles_; // slot i is handle (i + 1) * 4
    std::vector<size_t> freeSlots_;
    std::uint64_t clock_ = 0;
    std::uint64_t changes_ = 0;
};

} // namespace sim

#endif
