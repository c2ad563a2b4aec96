// The simulated registry. Results and buffer rules follow Wine's
// kernelbase and wineserver, which behave as the handheld does for the
// calls the program makes.
#include "platform/sim/registry.h"

#include "platform/sim/wtext.h"

#include <algorithm>
#include <cstring>

namespace sim {
namespace {

struct RootInfo {
    HKEY handle;
    const char *name;
};

const RootInfo kRoots[] = {
    {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT"},
    {HKEY_CURRENT_USER, "HKEY_CURRENT_USER"},
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"},
    {HKEY_USERS, "HKEY_USERS"},
    {HKEY_CURRENT_CONFIG, "HKEY_CURRENT_CONFIG"},
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

bool IsString(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// Splits a subkey path the way wineserver does: no leading backslash, runs
// of backslashes separate components, a trailing one is ignored.
LONG SplitPath(std::u16string_view path, std::vector<std::u16string_view> &parts)
{
    parts.clear();
    if (!path.empty() && path[0] == u'\\')
        return ERROR_BAD_PATHNAME;
    size_t i = 0;
    while (i < path.size()) {
        size_t end = path.find(u'\\', i);
        if (end == std::u16string_view::npos)
            end = path.size();
        if (end > i) {
            if (end - i > kMaxKeyNameLength)
                return ERROR_INVALID_PARAMETER;
            parts.push_back(path.substr(i, end - i));
        }
        i = end + 1;
    }
    return ERROR_SUCCESS;
}

template <typename T, typename NameOf>
auto LowerBound(std::vector<T> &items, std::u16string_view name, NameOf nameOf)
{
    return std::lower_bound(items.begin(), items.end(), name, [&](const T &item, std::u16string_view n) {
        return CompareNames(nameOf(item), n) < 0;
    });
}

const std::u16string &KeyName(const std::shared_ptr<RegKey> &k) { return k->name; }
const std::u16string &ValueName(const RegValue &v) { return v.name; }

std::shared_ptr<RegKey> AddSubkey(RegKey &parent, std::u16string_view name, bool *created)
{
    auto it = LowerBound(parent.subkeys, name, KeyName);
    if (it != parent.subkeys.end() && CompareNames((*it)->name, name) == 0) {
        *created = false;
        return *it;
    }
    auto key = std::make_shared<RegKey>();
    key->name = std::u16string(name);
    parent.subkeys.insert(it, key);
    *created = true;
    return key;
}

// Marks a whole subtree, however deep, without recursion.
void MarkDeleted(RegKey &top)
{
    std::vector<RegKey *> pending{&top};
    while (!pending.empty()) {
        RegKey *key = pending.back();
        pending.pop_back();
        key->deleted = true;
        for (auto &sub : key->subkeys)
            pending.push_back(sub.get());
    }
}

} // namespace

RegKey *RegKey::FindSubkey(std::u16string_view n) const
{
    auto &list = const_cast<std::vector<std::shared_ptr<RegKey>> &>(subkeys);
    auto it = LowerBound(list, n, KeyName);
    if (it != list.end() && CompareNames((*it)->name, n) == 0)
        return it->get();
    return nullptr;
}

const RegValue *RegKey::FindValue(std::u16string_view n) const
{
    auto &list = const_cast<std::vector<RegValue> &>(values);
    auto it = LowerBound(list, n, ValueName);
    if (it != list.end() && CompareNames(it->name, n) == 0)
        return &*it;
    return nullptr;
}

void RegKey::SetValue(std::u16string_view n, DWORD type, std::vector<BYTE> data)
{
    auto it = LowerBound(values, n, ValueName);
    if (it == values.end() || CompareNames(it->name, n) != 0)
        it = values.insert(it, RegValue{std::u16string(n), type, {}});
    it->type = type;
    it->data = std::move(data);
}

bool RegKey::DeleteValue(std::u16string_view n)
{
    auto it = LowerBound(values, n, ValueName);
    if (it == values.end() || CompareNames(it->name, n) != 0)
        return false;
    values.erase(it);
    return true;
}

Registry::Registry()
{
    for (size_t i = 0; i < kRootCount; ++i) {
        auto root = std::make_shared<RegKey>();
        root->name = U16(kRoots[i].name);
        roots_.push_back(root);
    }
}

bool Registry::IsRoot(HKEY key) { return RootIndex(key) < kRootCount; }

RegKey *Registry::Root(HKEY root) const
{
    size_t i = RootIndex(root);
    return i < kRootCount ? roots_[i].get() : nullptr;
}

const char *Registry::RootName(HKEY root)
{
    size_t i = RootIndex(root);
    return i < kRootCount ? kRoots[i].name : nullptr;
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
    RegKey *key = Root(root);
    std::vector<std::u16string_view> parts;
    if (!key || SplitPath(path, parts) != ERROR_SUCCESS)
        return nullptr;
    for (auto part : parts) {
        key = key->FindSubkey(part);
        if (!key)
            return nullptr;
    }
    return key;
}

RegKey &Registry::CreateKey(HKEY root, std::u16string_view path)
{
    RegKey *key = Root(root);
    std::vector<std::u16string_view> parts;
    SplitPath(path, parts);
    for (auto part : parts) {
        bool created = false;
        key = AddSubkey(*key, part, &created).get();
        if (created)
            key->lastWrite = Tick();
    }
    return *key;
}

bool Registry::DeleteKey(HKEY root, std::u16string_view path)
{
    std::vector<std::u16string_view> parts;
    if (SplitPath(path, parts) != ERROR_SUCCESS || parts.empty())
        return false;
    RegKey *parent = Root(root);
    for (size_t i = 0; parent && i + 1 < parts.size(); ++i)
        parent = parent->FindSubkey(parts[i]);
    if (!parent)
        return false;
    auto it = LowerBound(parent->subkeys, parts.back(), KeyName);
    if (it == parent->subkeys.end() || CompareNames((*it)->name, parts.back()) != 0)
        return false;
    MarkDeleted(**it);
    parent->subkeys.erase(it);
    return true;
}

RegKey &Registry::AppendSubkey(RegKey &parent, std::u16string_view name)
{
    auto key = std::make_shared<RegKey>();
    key->name = std::u16string(name);
    key->lastWrite = Tick();
    parent.subkeys.push_back(key);
    return *key;
}

void Registry::SetValue(HKEY root, std::u16string_view path, std::u16string_view name, DWORD type,
                        std::vector<BYTE> data)
{
    RegKey &key = CreateKey(root, path);
    key.SetValue(name, type, std::move(data));
    key.lastWrite = Tick();
}

const RegValue *Registry::FindValue(HKEY root, std::u16string_view path,
                                    std::u16string_view name) const
{
    RegKey *key = FindKey(root, path);
    return key ? key->FindValue(name) : nullptr;
}

HKEY Registry::NewHandle(std::shared_ptr<RegKey> key)
{
    size_t slot;
    if (!freeSlots_.empty()) {
        slot = freeSlots_.back();
        freeSlots_.pop_back();
        handles_[slot] = std::move(key);
    } else {
        slot = handles_.size();
        handles_.push_back(std::move(key));
    }
    return reinterpret_cast<HKEY>(static_cast<UINT_PTR>((slot + 1) * 4));
}

std::optional<size_t> Registry::SlotOf(HKEY key) const
{
    auto value = reinterpret_cast<UINT_PTR>(key);
    if (value == 0 || value % 4 != 0 || value / 4 - 1 >= handles_.size() || !handles_[value / 4 - 1])
        return std::nullopt;
    return value / 4 - 1;
}

std::shared_ptr<RegKey> Registry::SharedOf(HKEY key) const
{
    size_t i = RootIndex(key);
    if (i < kRootCount)
        return roots_[i];
    auto slot = SlotOf(key);
    return slot ? handles_[*slot] : nullptr;
}

LONG Registry::Resolve(HKEY key, RegKey **out) const
{
    size_t i = RootIndex(key);
    RegKey *k = nullptr;
    if (i < kRootCount) {
        k = roots_[i].get();
    } else if (auto slot = SlotOf(key)) {
        k = handles_[*slot].get();
    } else {
        return ERROR_INVALID_HANDLE;
    }
    if (k->deleted)
        return ERROR_KEY_DELETED;
    *out = k;
    return ERROR_SUCCESS;
}

LONG Registry::Walk(HKEY parent, LPCWSTR subkey, std::shared_ptr<RegKey> &start,
                    std::vector<std::u16string_view> &parts) const
{
    RegKey *key = nullptr;
    if (LONG r = Resolve(parent, &key))
        return r;
    if (LONG r = SplitPath(subkey ? std::u16string_view(subkey, Length(subkey)) : u"", parts))
        return r;
    start = SharedOf(parent);
    return ERROR_SUCCESS;
}

LONG Registry::CreateKeyEx(HKEY parent, LPCWSTR subkey, DWORD reserved, LPCWSTR cls, HKEY *result,
                           DWORD *disposition)
{
    if (reserved || !result)
        return ERROR_INVALID_PARAMETER;
    std::shared_ptr<RegKey> key;
    std::vector<std::u16string_view> parts;
    if (LONG r = Walk(parent, subkey, key, parts))
        return r;

    bool created = false;
    for (size_t i = 0; i < parts.size(); ++i) {
        key = AddSubkey(*key, parts[i], &created);
        if (created) {
            ++changes_;
            key->lastWrite = Tick();
            // Only the key named last receives the class.
            if (i + 1 == parts.size() && cls)
                key->className.assign(cls, Length(cls));
        }
    }
    *result = NewHandle(key);
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
    std::shared_ptr<RegKey> key;
    std::vector<std::u16string_view> parts;
    if (LONG r = Walk(parent, subkey, key, parts))
        return r;

    for (auto part : parts) {
        auto it = LowerBound(key->subkeys, part, KeyName);
        if (it == key->subkeys.end() || CompareNames((*it)->name, part) != 0)
            return ERROR_FILE_NOT_FOUND;
        key = *it;
    }
    *result = NewHandle(key);
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
    if (sub.name.size() >= *nameLen || (cls && classLen && sub.className.size() >= *classLen))
        return ERROR_MORE_DATA;

    std::memcpy(name, sub.name.data(), sub.name.size() * sizeof(WCHAR));
    name[sub.name.size()] = 0;
    *nameLen = static_cast<DWORD>(sub.name.size());
    if (classLen) {
        *classLen = static_cast<DWORD>(sub.className.size());
        if (cls) {
            std::memcpy(cls, sub.className.data(), sub.className.size() * sizeof(WCHAR));
            cls[sub.className.size()] = 0;
        }
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
    LONG result = ERROR_SUCCESS;
    if (value.name.size() >= *nameLen) {
        result = ERROR_MORE_DATA;
    } else {
        std::memcpy(name, value.name.data(), value.name.size() * sizeof(WCHAR));
        name[value.name.size()] = 0;
        *nameLen = static_cast<DWORD>(value.name.size());
        if (data) {
            if (value.data.size() > *dataLen) {
                result = ERROR_MORE_DATA;
            } else {
                if (!value.data.empty())
                    std::memcpy(data, value.data.data(), value.data.size());
                // Like NT, an unterminated string gets a terminator when
                // there is room for one; it is not counted in the size.
                size_t n = value.data.size();
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
        *dataLen = static_cast<DWORD>(value.data.size());
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
    if (!old || old->type != type || old->data.size() != size ||
        (size && std::memcmp(old->data.data(), data, size) != 0))
        ++changes_;
    key->SetValue(n, type, std::vector<BYTE>(data, data + size));
    key->lastWrite = Tick();
    return ERROR_SUCCESS;
}

LONG Registry::CloseKey(HKEY hkey)
{
    if (IsRoot(hkey))
        return ERROR_SUCCESS;
    auto slot = SlotOf(hkey);
    if (!slot)
        return ERROR_INVALID_HANDLE;
    handles_[*slot].reset();
    freeSlots_.push_back(*slot);
    return ERROR_SUCCESS;
}

std::u16string_view Registry::NameOf(HKEY key) const
{
    RegKey *k = nullptr;
    if (Resolve(key, &k) != ERROR_SUCCESS)
        return {};
    return k->name;
}

size_t Registry::OpenHandleCount() const
{
    return static_cast<size_t>(
        std::count_if(handles_.begin(), handles_.end(), [](const auto &h) { return h != nullptr; }));
}

} // namespace sim
