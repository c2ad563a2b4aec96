// The registry as a value: keys with typed values in the registry's
// enumeration order, under five roots, with the registry's limits. The
// registry files read and write it; the simulated handheld serves the Win32
// calls over it. It knows nothing of handles or of Win32's types.
#ifndef SAMBREL_REGISTRY_MODEL_H
#define SAMBREL_REGISTRY_MODEL_H

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace registry {

// A value's type, as the registry numbers them.
using Type = std::uint32_t;
constexpr Type kTypeNone = 0;
constexpr Type kTypeSz = 1;
constexpr Type kTypeExpandSz = 2;
constexpr Type kTypeBinary = 3;
constexpr Type kTypeDword = 4;
constexpr Type kTypeMultiSz = 7;

struct RegValue {
    std::u16string name;
    Type type = 0;
    std::vector<std::uint8_t> data;
};

struct RegKey {
    std::u16string name;
    std::u16string className;
    std::uint64_t lastWrite = 0;
    bool deleted = false; // taken out of the tree (open handles still see it)
    // Both kept in the registry's enumeration order (CompareNames).
    std::vector<std::shared_ptr<RegKey>> subkeys;
    std::vector<RegValue> values;

    RegKey *FindSubkey(std::u16string_view name) const;
    std::shared_ptr<RegKey> SharedSubkey(std::u16string_view name) const;
    const RegValue *FindValue(std::u16string_view name) const;
    // The child of that name, made if there is none (created says which).
    std::shared_ptr<RegKey> AddSubkey(std::u16string_view name, bool *created);
    // Creates or replaces a value; a name that sorts last is appended.
    void SetValue(std::u16string_view name, Type type, std::vector<std::uint8_t> data);
    bool DeleteValue(std::u16string_view name);
};

// The longest key name component the registry takes, and how deep keys nest.
constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxKeyDepth = 512;

// Splits a subkey path as Windows does: no leading backslash, runs of
// backslashes separate components, a trailing one is ignored.
enum class PathError { None, LeadingBackslash, NameTooLong };
PathError SplitPath(std::u16string_view path, std::vector<std::u16string_view> &parts);

enum class Root { ClassesRoot, CurrentUser, LocalMachine, Users, CurrentConfig };
const std::vector<Root> &AllRoots();
const char *RootName(Root root); // HKEY_LOCAL_MACHINE, ...

class Tree {
public:
    Tree();

    RegKey &RootKey(Root root) const;
    std::shared_ptr<RegKey> SharedRoot(Root root) const;
    RegKey *FindKey(Root root, std::u16string_view path) const;
    RegKey &CreateKey(Root root, std::u16string_view path);
    // Takes the key and everything under it out of the tree.
    bool DeleteKey(Root root, std::u16string_view path);
    void SetValue(Root root, std::u16string_view path, std::u16string_view name, Type type,
                  std::vector<std::uint8_t> data);
    const RegValue *FindValue(Root root, std::u16string_view path, std::u16string_view name) const;
    // For loading many keys at once: a new child appended at the end of
    // parent's subkeys, which the loader then puts back in order.
    RegKey &AppendSubkey(RegKey &parent, std::u16string_view name);

    // The clock that stamps keys' last write.
    std::uint64_t Tick() { return ++clock_; }

private:
    std::vector<std::shared_ptr<RegKey>> roots_;
    std::uint64_t clock_ = 0;
};

} // namespace registry

#endif
