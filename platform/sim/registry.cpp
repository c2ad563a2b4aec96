// The simulated registry. Results and buffer rules follow Wine's
// kernelbase and wineserver, which behave as the handheld does for the
// calls the program makes.
#include "platform/sim/registry.h"

#include <algorithm>
#include <cstring>

namespace sim {
namespace {

using registry::RegKey;
using registry::RegValue;

// The predefined handles and the roots they stand for.
const struct {
    HKEY handle;
    registry::Root root;
} kRoots[] = {
    {HKEY_CLASSES_ROOT, registry::Root::ClassesRoot},
    {HKEY_CURRENT_USER, registry::Root::CurrentUser},
    {HKEY_LOCAL_MACHINE, registry::Root::LocalMachine},
    {HKEY_USERS, registry::Root::Users},
    {HKEY_CURRENT_CONFIG, registry::Root::CurrentConfig},
};
constexpr size_t kRootCount = sizeof(kRoots) / sizeof(kRoots[0]);

size_t RootIndex(HKEY key)
{
    for (size_t i = 0; i < kRootCount; ++i)
        if (kRoots[i].handle == key)
            return i;
    return kRootCount;
}

size_t Length(LPCWSTR s)
{
    size_t n = 0;
    if (s)
        while (s[n])
            ++n;
    return n;
}

// Copies a name or class with its terminator; the caller has checked that
// both fit.
void PutText(LPWSTR out, std::u16string_view text)
{
    if (!text.empty())
        std::memcpy(out, text.data(), text.size() * sizeof(WCHAR));
    out[text.size()] = 0;
}

bool IsString(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// Splits a subkey path, giving the error Win32 gives for a bad one.
LONG SplitPath(std::u16string_view path, std::vector<std::u16string_view> &parts)
{
    switch (registry::SplitPath(path, parts)) {
    case registry::PathError::LeadingBackslash: return ERROR_BAD_PATHNAME;
    case registry::PathError::NameTooLong: return ERROR_INVALID_PARAMETER;
    case registry::PathError::None: break;
    }
    return ERROR_SUCCESS;
}

} // namespace

Registry::Registry() = default;

bool Registry::IsRoot(HKEY key) { return RootIndex(key) < kRootCount; }

RegKey *Registry::Root(HKEY root) const
{
    size_t i = RootIndex(root);
    return i < kRootCount ? &tree_.RootKey(kRoots[i].root) : nullptr;
}

const char *Registry::RootName(HKEY root)
{
    size_t i = RootIndex(root);
    return i < kRootCount ? registry::RootName(kRoots[i].root) : nullptr;
}

std::vector<HKEY> Registry::Roots()
{
    std::vector<HKEY> out;
    for (auto &r : kRoots)
        out.push_back(r.handle);
    return out;
}

RegKey *Registry::FindKey(HKEY root, std::u16string_view path) const
{
    size_t i = RootIndex(root);
    return i < kRootCount ? tree_.FindKey(kRoots[i].root, path) : nullptr;
}

RegKey &Registry::CreateKey(HKEY root, std::u16string_view path)
{
    return tree_.CreateKey(kRoots[RootIndex(root)].root, path);
}

bool Registry::DeleteKey(HKEY root, std::u16string_view path)
{
    size_t i = RootIndex(root);
    return i < kRootCount && tree_.DeleteKey(kRoots[i].root, path);
}

void Registry::SetValue(HKEY root, std::u16string_view path, std::u16string_view name, DWORD type,
                        const std::vector<BYTE> &data)
{
    tree_.SetValue(kRoots[RootIndex(root)].root, path, name, type, data);
}

const RegValue *Registry::FindValue(HKEY root, std::u16string_view path,
                                    std::u16string_view name) const
{
    size_t i = RootIndex(root);
    return i < kRootCount ? tree_.FindValue(kRoots[i].root, path, name) : nullptr;
}

void Registry::Adopt(registry::Tree tree)
{
    tree_ = std::move(tree);
    handles_.clear();
    freeSlots_.clear();
}

HKEY Registry::NewHandle(RegKey *key, size_t pathLength)
{
    size_t slot;
    if (!freeSlots_.empty()) {
        slot = freeSlots_.back();
        freeSlots_.pop_back();
        handles_[slot] = {key, pathLength};
    } else {
        slot = handles_.size();
        handles_.push_back({key, pathLength});
    }
    return reinterpret_cast<HKEY>(static_cast<UINT_PTR>((slot + 1) * 4));
}

std::optional<size_t> Registry::SlotOf(HKEY key) const
{
    auto value = reinterpret_cast<UINT_PTR>(key);
    if (value == 0 || value % 4 != 0 || value / 4 - 1 >= handles_.size() || !handles_[value / 4 - 1].key)
        return std::nullopt;
    return value / 4 - 1;
}

RegKey *Registry::KeyOf(HKEY key) const
{
    size_t i = RootIndex(key);
    if (i < kRootCount)
        return &tree_.RootKey(kRoots[i].root);
    auto slot = SlotOf(key);
    return slot ? handles_[*slot].key : nullptr;
}

void Registry::LimitGrowth(std::optional<std::uint64_t> bytes)
{
    limit_ = bytes ? std::optional<std::uint64_t>(tree_.Held() + *bytes) : std::nullopt;
    paths_ = 0;
}

bool Registry::Full() const { return limit_ && tree_.Held() + paths_ > *limit_; }

LONG Registry::Resolve(HKEY key, RegKey **out) const
{
    size_t i = RootIndex(key);
    RegKey *k = nullptr;
    if (i < kRootCount) {
        k = &tree_.RootKey(kRoots[i].root);
    } else if (auto slot = SlotOf(key)) {
        k = handles_[*slot].key;
    } else {
        return ERROR_INVALID_HANDLE;
    }
    if (k->deleted)
        return ERROR_KEY_DELETED;
    *out = k;
    return ERROR_SUCCESS;
}

LONG Registry::Walk(HKEY parent, LPCWSTR subkey, Path &path) const
{
    if (LONG r = Resolve(parent, &path.start))
        return r;
    if (LONG r = SplitPath(subkey ? std::u16string_view(subkey, Length(subkey)) : u"", path.names))
        return r;
    size_t root = RootIndex(parent);
    path.length = root < kRootCount ? std::strlen(RootName(parent)) : handles_[*SlotOf(parent)].pathLength;
    return ERROR_SUCCESS;
}

LONG Registry::CreateKeyEx(HKEY parent, LPCWSTR subkey, DWORD reserved, LPCWSTR cls, HKEY *result,
                           DWORD *disposition)
{
    if (reserved || !result)
        return ERROR_INVALID_PARAMETER;
    Path path;
    if (LONG r = Walk(parent, subkey, path))
        return r;

    RegKey *key = path.start;
    size_t pathLength = path.length;
    const auto &parts = path.names;
    bool created = false;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (Full())
            return ERROR_NOT_ENOUGH_MEMORY;
        work_ += key->subkeys.size() * sizeof(RegKey *); // moved to make room
        key = &tree_.AddSubkey(*key, parts[i], &created);
        pathLength += 1 + parts[i].size();
        if (created) {
            ++changes_;
            paths_ += pathLength * sizeof(WCHAR);
            work_ += sizeof(RegKey) + parts[i].size() * sizeof(WCHAR);
            // Only the key named last receives the class.
            if (i + 1 == parts.size() && cls)
                tree_.SetClass(*key, std::u16string_view(cls, Length(cls)));
        }
    }
    *result = NewHandle(key, pathLength);
    if (disposition)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

LONG Registry::OpenKeyEx(HKEY parent, LPCWSTR subkey, DWORD options, HKEY *result)
{
    (void)options;
    if (!result)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    Path path;
    if (LONG r = Walk(parent, subkey, path))
        return r;

    RegKey *key = path.start->FindPath(path.names);
    if (!key)
        return ERROR_FILE_NOT_FOUND;
    for (auto name : path.names)
        path.length += 1 + name.size();
    *result = NewHandle(key, path.length);
    return ERROR_SUCCESS;
}

LONG Registry::EnumKeyEx(HKEY hkey, DWORD index, LPWSTR name, DWORD *nameLen,
                         const DWORD *reserved, LPWSTR cls, DWORD *classLen,
                         FILETIME *lastWrite) const
{
    if (reserved || !name || !nameLen)
        return ERROR_INVALID_PARAMETER;
    RegKey *key = nullptr;
    if (LONG r = Resolve(hkey, &key))
        return r;
    if (index >= key->subkeys.size())
        return ERROR_NO_MORE_ITEMS;

    const RegKey &sub = *key->subkeys[index];
    if (lastWrite) {
        lastWrite->dwLowDateTime = static_cast<DWORD>(sub.lastWrite);
        lastWrite->dwHighDateTime = static_cast<DWORD>(sub.lastWrite >> 32);
    }
    // Nothing is written unless both the name and the class fit.
    std::u16string_view subName = sub.Name(), subClass = sub.ClassName();
    if (subName.size() >= *nameLen || (cls && classLen && subClass.size() >= *classLen))
        return ERROR_MORE_DATA;

    PutText(name, subName);
    *nameLen = static_cast<DWORD>(subName.size());
    if (classLen) {
        *classLen = static_cast<DWORD>(subClass.size());
        if (cls)
            PutText(cls, subClass);
    }
    return ERROR_SUCCESS;
}

LONG Registry::EnumValue(HKEY hkey, DWORD index, LPWSTR name, DWORD *nameLen,
                         const DWORD *reserved, DWORD *type, BYTE *data, DWORD *dataLen) const
{
    if ((data && !dataLen) || reserved || !name || !nameLen)
        return ERROR_INVALID_PARAMETER;
    RegKey *key = nullptr;
    if (LONG r = Resolve(hkey, &key))
        return r;
    if (index >= key->values.size())
        return ERROR_NO_MORE_ITEMS;

    const RegValue &value = key->values[index];
    std::u16string_view valueName = value.Name();
    registry::Bytes valueData = value.Data();
    LONG result = ERROR_SUCCESS;
    if (valueName.size() >= *nameLen) {
        result = ERROR_MORE_DATA;
    } else {
        PutText(name, valueName);
        *nameLen = static_cast<DWORD>(valueName.size());
        if (data) {
            if (valueData.size() > *dataLen) {
                result = ERROR_MORE_DATA;
            } else {
                if (!valueData.empty())
                    std::memcpy(data, valueData.data(), valueData.size());
                // Like NT, an unterminated string gets a terminator when
                // there is room for one; it is not counted in the size.
                size_t n = valueData.size();
                if (IsString(value.type) && n >= sizeof(WCHAR) && n + sizeof(WCHAR) <= *dataLen &&
                    (data[n - 2] || data[n - 1])) {
                    data[n] = 0;
                    data[n + 1] = 0;
                }
            }
        }
    }
    if (type)
        *type = value.type;
    if (dataLen)
        *dataLen = static_cast<DWORD>(valueData.size());
    return result;
}

LONG Registry::SetValueEx(HKEY hkey, LPCWSTR name, DWORD reserved, DWORD type, const BYTE *data,
                          DWORD size)
{
    if (reserved)
        return ERROR_INVALID_PARAMETER;
    if (!data && size)
        return ERROR_INVALID_PARAMETER;
    RegKey *key = nullptr;
    if (LONG r = Resolve(hkey, &key))
        return r;
    std::u16string_view n = name ? std::u16string_view(name, Length(name)) : u"";
    const RegValue *old = key->FindValue(n);
    registry::Bytes bytes(data, size);
    if (!old || old->type != type || old->Data() != bytes)
        ++changes_;
    // Compared, copied, and for a new value the values after it moved.
    work_ += 2 * bytes.size() + (old ? 0 : key->values.size() * sizeof(RegValue) + n.size() * sizeof(WCHAR));
    tree_.SetValue(*key, n, type, bytes);
    key->lastWrite = tree_.Tick();
    return ERROR_SUCCESS;
}

LONG Registry::CloseKey(HKEY hkey)
{
    if (IsRoot(hkey))
        return ERROR_SUCCESS;
    auto slot = SlotOf(hkey);
    if (!slot)
        return ERROR_INVALID_HANDLE;
    handles_[*slot] = {nullptr, 0};
    freeSlots_.push_back(*slot);
    return ERROR_SUCCESS;
}

std::u16string_view Registry::NameOf(HKEY key) const
{
    RegKey *k = nullptr;
    if (Resolve(key, &k) != ERROR_SUCCESS)
        return {};
    return k->Name();
}

size_t Registry::OpenHandleCount() const
{
    return static_cast<size_t>(
        std::count_if(handles_.begin(), handles_.end(), [](const Handle &h) { return h.key != nullptr; }));
}

} // namespace sim
