// The simulated handheld's registry: a tree of keys with typed values, the
// open handles onto it, and the Win32 registry calls over both, with the
// results and buffer rules that Wine gives.
#ifndef SAMBREL_SIM_REGISTRY_H
#define SAMBREL_SIM_REGISTRY_H

#include "platform/sim/public/coredll_types.h"
#include "registry/model.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sim {

// The registry model with the Win32 calls over it: open handles, the
// predefined root handles, and Wine's results and buffer rules.
class Registry {
public:
    Registry();

    // The predefined roots: whether a handle is one, its key (nullptr for a
    // handle that is not one), its name, and all of them in order.
    static bool IsRoot(HKEY key);
    registry::RegKey *Root(HKEY root) const;
    static const char *RootName(HKEY root);
    static std::vector<HKEY> Roots();

    // Direct access for whoever builds or inspects a device.
    registry::RegKey *FindKey(HKEY root, std::u16string_view path) const;
    registry::RegKey &CreateKey(HKEY root, std::u16string_view path);
    bool DeleteKey(HKEY root, std::u16string_view path);
    // The tree itself, and taking a whole tree in (open handles are
    // forgotten).
    const registry::Tree &tree() const { return tree_; }
    registry::Tree &tree() { return tree_; }
    void Adopt(registry::Tree tree);
    void SetValue(HKEY root, std::u16string_view path, std::u16string_view name, DWORD type,
                  const std::vector<BYTE> &data);
    const registry::RegValue *FindValue(HKEY root, std::u16string_view path, std::u16string_view name) const;

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

    // From now on the registry may grow by at most bytes (nullopt: without
    // a bound): the memory the tree holds, with each key created counted
    // again by its full path, as a saved file spells it out. A key that
    // would go past it is not created (ERROR_NOT_ENOUGH_MEMORY); a value
    // written past it is kept, and Full() says so.
    void LimitGrowth(std::optional<std::uint64_t> bytes);
    bool Full() const;
    // The bytes and entries the Win32 calls copied or moved since last
    // asked: what they cost beyond the caller's own buffers.
    std::uint64_t TakeWork() { return std::exchange(work_, 0); }
    // A handle's key name (the root's name for a root); empty when invalid.
    std::u16string_view NameOf(HKEY key) const;

private:
    // Resolves a handle, or gives the error that using it returns.
    LONG Resolve(HKEY key, registry::RegKey **out) const;
    // The open handle's slot in handles_; nullopt for a root or a bad handle.
    std::optional<size_t> SlotOf(HKEY key) const;
    registry::RegKey *KeyOf(HKEY key) const;
    // Where a Create or Open starts, the length of that key's full path
    // (root name included), and the names of the subkey path below it.
    struct Path {
        registry::RegKey *start = nullptr;
        size_t length = 0;
        std::vector<std::u16string_view> names;
    };
    LONG Walk(HKEY parent, LPCWSTR subkey, Path &path) const;
    struct Handle {
        registry::RegKey *key; // keys live as long as the tree
        size_t pathLength; // of the key's full path, root name included
    };
    HKEY NewHandle(registry::RegKey *key, size_t pathLength);
    registry::Tree tree_;
    std::vector<Handle> handles_; // slot i is handle (i + 1) * 4
    std::vector<size_t> freeSlots_;
    std::uint64_t changes_ = 0;
    std::optional<std::uint64_t> limit_; // what the tree may hold, paths counted
    std::uint64_t paths_ = 0;            // bytes of the paths of keys created since limited
    std::uint64_t work_ = 0;
};

} // namespace sim

#endif
