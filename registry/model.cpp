// The registry as a value: its tree and its rules.
#include "registry/model.h"

#include "registry/names.h"
#include "text/codecs.h"

#include <algorithm>

namespace registry {
namespace {

const struct {
    Root root;
    const char *name;
} kRootNames[] = {
    {Root::ClassesRoot, "HKEY_CLASSES_ROOT"},
    {Root::CurrentUser, "HKEY_CURRENT_USER"},
    {Root::LocalMachine, "HKEY_LOCAL_MACHINE"},
    {Root::Users, "HKEY_USERS"},
    {Root::CurrentConfig, "HKEY_CURRENT_CONFIG"},
};

template <typename T, typename NameOf>
auto LowerBound(std::vector<T> &items, std::u16string_view name, NameOf nameOf)
{
    return std::lower_bound(items.begin(), items.end(), name, [&](const T &item, std::u16string_view n) {
        return CompareNames(nameOf(item), n) < 0;
    });
}

const std::u16string &KeyName(const std::shared_ptr<RegKey> &k) { return k->name; }
const std::u16string &ValueName(const RegValue &v) { return v.name; }

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

std::shared_ptr<RegKey> RegKey::SharedSubkey(std::u16string_view n) const
{
    auto &list = const_cast<std::vector<std::shared_ptr<RegKey>> &>(subkeys);
    auto it = LowerBound(list, n, KeyName);
    if (it != list.end() && CompareNames((*it)->name, n) == 0)
        return *it;
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

std::shared_ptr<RegKey> RegKey::AddSubkey(std::u16string_view n, bool *created)
{
    auto it = LowerBound(subkeys, n, KeyName);
    if (it != subkeys.end() && CompareNames((*it)->name, n) == 0) {
        *created = false;
        return *it;
    }
    auto key = std::make_shared<RegKey>();
    key->name = std::u16string(n);
    subkeys.insert(it, key);
    *created = true;
    return key;
}

void RegKey::SetValue(std::u16string_view n, Type type, std::vector<std::uint8_t> data)
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

PathError SplitPath(std::u16string_view path, std::vector<std::u16string_view> &parts)
{
    parts.clear();
    if (!path.empty() && path[0] == u'\\')
        return PathError::LeadingBackslash;
    size_t i = 0;
    while (i < path.size()) {
        size_t end = path.find(u'\\', i);
        if (end == std::u16string_view::npos)
            end = path.size();
        if (end > i) {
            if (end - i > kMaxKeyNameLength)
                return PathError::NameTooLong;
            parts.push_back(path.substr(i, end - i));
        }
        i = end + 1;
    }
    return PathError::None;
}

const std::vector<Root> &AllRoots()
{
    static const std::vector<Root> all = {Root::ClassesRoot, Root::CurrentUser, Root::LocalMachine,
                                          Root::Users, Root::CurrentConfig};
    return all;
}

const char *RootName(Root root)
{
    for (const auto &r : kRootNames)
        if (r.root == root)
            return r.name;
    return "?";
}

Tree::Tree()
{
    for (Root r : AllRoots()) {
        auto key = std::make_shared<RegKey>();
        key->name = text::U16(RootName(r));
        roots_.push_back(key);
    }
}

RegKey &Tree::RootKey(Root root) const { return *roots_[static_cast<size_t>(root)]; }

std::shared_ptr<RegKey> Tree::SharedRoot(Root root) const { return roots_[static_cast<size_t>(root)]; }

RegKey *Tree::FindKey(Root root, std::u16string_view path) const
{
    RegKey *key = &RootKey(root);
    std::vector<std::u16string_view> parts;
    if (SplitPath(path, parts) != PathError::None)
        return nullptr;
    for (auto part : parts) {
        key = key->FindSubkey(part);
        if (!key)
            return nullptr;
    }
    return key;
}

RegKey &Tree::CreateKey(Root root, std::u16string_view path)
{
    RegKey *key = &RootKey(root);
    std::vector<std::u16string_view> parts;
    SplitPath(path, parts);
    for (auto part : parts) {
        bool created = false;
        key = key->AddSubkey(part, &created).get();
        if (created)
            key->lastWrite = Tick();
    }
    return *key;
}

bool Tree::DeleteKey(Root root, std::u16string_view path)
{
    std::vector<std::u16string_view> parts;
    if (SplitPath(path, parts) != PathError::None || parts.empty())
        return false;
    RegKey *parent = &RootKey(root);
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

RegKey &Tree::AppendSubkey(RegKey &parent, std::u16string_view name)
{
    auto key = std::make_shared<RegKey>();
    key->name = std::u16string(name);
    key->lastWrite = Tick();
    parent.subkeys.push_back(key);
    return *key;
}

void Tree::SetValue(Root root, std::u16string_view path, std::u16string_view name, Type type,
                    std::vector<std::uint8_t> data)
{
    RegKey &key = CreateKey(root, path);
    key.SetValue(name, type, std::move(data));
    key.lastWrite = Tick();
}

const RegValue *Tree::FindValue(Root root, std::u16string_view path, std::u16string_view name) const
{
    RegKey *key = FindKey(root, path);
    return key ? key->FindValue(name) : nullptr;
}

} // namespace registry
