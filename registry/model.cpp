// The registry as a value: its tree and its rules.
#include "registry/model.h"

#include "registry/names.h"
#include "text/codecs.h"

#include <algorithm>
#include <sys/mman.h>

namespace registry {
namespace {

// By Root, in its order.
const char *const kRootNames[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS",
                                  "HKEY_CURRENT_CONFIG"};
static_assert(sizeof kRootNames / sizeof *kRootNames == static_cast<size_t>(Root::CurrentConfig) + 1);

// Blocks grow as the tree does, up to a size whose unused tail is small
// beside what a large tree holds.
constexpr size_t kLargestBlock = 4 * 1024 * 1024;

// Where name is, or would go, in a list kept in the registry's order.
template <typename List, typename NameOf>
size_t LowerBound(const List &items, std::u16string_view name, NameOf nameOf)
{
    auto at = std::partition_point(items.begin(), items.end(),
                                   [&](const auto &item) { return CompareNames(nameOf(item), name) < 0; });
    return static_cast<size_t>(at - items.begin());
}

// A value's capacity lies where a 64-bit build pads after its type.
static_assert(sizeof(void *) != 8 || sizeof(RegValue) == 24, "a value is 24 bytes");

std::u16string_view KeyName(const RegKey *k) { return k->Name(); }
std::u16string_view ValueName(const RegValue &v) { return v.Name(); }

// Marks a whole subtree, however deep, without recursion.
void MarkDeleted(RegKey &top)
{
    std::vector<RegKey *> pending{&top};
    while (!pending.empty()) {
        RegKey *key = pending.back();
        pending.pop_back();
        key->deleted = true;
        for (RegKey *sub : key->subkeys)
            pending.push_back(sub);
    }
}

// A large block is faulted in at once, as a tree that needs one fills it:
// touching it page by page costs a trap for every page.
void Populate(unsigned char *block, size_t size)
{
#ifdef MADV_POPULATE_WRITE
    constexpr std::uintptr_t kPage = 4096;
    auto start = (reinterpret_cast<std::uintptr_t>(block) + kPage - 1) & ~(kPage - 1);
    auto end = (reinterpret_cast<std::uintptr_t>(block) + size) & ~(kPage - 1);
    if (size >= (1u << 20) && end > start)
        madvise(reinterpret_cast<void *>(start), end - start, MADV_POPULATE_WRITE); // a hint: an old kernel refuses it
#else
    (void)block;
    (void)size;
#endif
}

} // namespace

void *Arena::AllocateAnew(size_t bytes, size_t align)
{
    // A request larger than half a block has a block of its own, and the
    // current block stays in use.
    if (bytes + align > blockSize_ / 2) {
        Own own{std::unique_ptr<unsigned char[]>(new unsigned char[bytes + align]), bytes + align};
        unsigned char *base = own.block.get();
        unsigned char *at = base + ((0 - reinterpret_cast<std::uintptr_t>(base)) & (align - 1));
        Populate(base, own.size);
        held_ += own.size;
        own_.emplace(at, std::move(own));
        return at;
    }
    blocks_.emplace_back(new unsigned char[blockSize_]);
    held_ += blockSize_;
    next_ = blocks_.back().get();
    left_ = blockSize_;
    Populate(next_, left_);
    blockSize_ = std::min(blockSize_ * 2, kLargestBlock);
    return Allocate(bytes, align);
}

void Arena::Release(const void *at)
{
    auto own = own_.find(at);
    if (own == own_.end())
        return;
    held_ -= own->second.size;
    own_.erase(own);
}

RegKey *RegKey::FindSubkey(std::u16string_view n) const
{
    size_t at = LowerBound(subkeys, n, KeyName);
    if (at < subkeys.size() && CompareNames(subkeys[at]->Name(), n) == 0)
        return subkeys[at];
    return nullptr;
}

RegKey *RegKey::FindPath(const std::vector<std::u16string_view> &names)
{
    RegKey *key = this;
    for (auto name : names)
        if (!(key = key->FindSubkey(name)))
            return nullptr;
    return key;
}

const RegValue *RegKey::FindValue(std::u16string_view n) const
{
    size_t at = LowerBound(values, n, ValueName);
    if (at < values.size() && CompareNames(values[at].Name(), n) == 0)
        return &values[at];
    return nullptr;
}

PathError SplitPath(std::u16string_view path, std::vector<std::u16string_view> &parts)
{
    parts.clear();
    if (!path.empty() && path[0] == u'\\')
        return PathError::LeadingBackslash;
    const char16_t *start = path.data(), *end = start + path.size();
    for (const char16_t *p = start;; ++p) {
        if (p != end && *p != u'\\')
            continue;
        if (p != start) {
            if (static_cast<size_t>(p - start) > kMaxKeyNameLength)
                return PathError::NameTooLong;
            parts.emplace_back(start, static_cast<size_t>(p - start));
        }
        if (p == end)
            return PathError::None;
        start = p + 1;
    }
}

const std::vector<Root> &AllRoots()
{
    static const std::vector<Root> all = {Root::ClassesRoot, Root::CurrentUser, Root::LocalMachine,
                                          Root::Users, Root::CurrentConfig};
    return all;
}

const char *RootName(Root root) { return kRootNames[static_cast<size_t>(root)]; }

Tree::Tree() : arena_(std::make_unique<Arena>())
{
    for (Root r : AllRoots())
        roots_.push_back(&NewKey(text::U16(RootName(r))));
}

const char16_t *Tree::Keep(std::u16string_view text)
{
    if (text.empty())
        return u"";
    char16_t *kept = arena_->Array<char16_t>(text.size());
    std::memcpy(kept, text.data(), text.size() * sizeof(char16_t));
    return kept;
}

RegKey &Tree::NewKey(std::u16string_view name)
{
    RegKey *key = new (arena_->Allocate(sizeof(RegKey), alignof(RegKey))) RegKey();
    key->name_ = Keep(name);
    key->nameLength_ = static_cast<std::uint32_t>(name.size());
    return *key;
}

RegKey &Tree::RootKey(Root root) const { return *roots_[static_cast<size_t>(root)]; }

RegKey *Tree::FindKey(Root root, std::u16string_view path) const
{
    std::vector<std::u16string_view> parts;
    if (SplitPath(path, parts) != PathError::None)
        return nullptr;
    return RootKey(root).FindPath(parts);
}

RegKey &Tree::CreateKey(Root root, std::u16string_view path)
{
    RegKey *key = &RootKey(root);
    std::vector<std::u16string_view> parts;
    SplitPath(path, parts);
    for (auto part : parts) {
        bool created = false;
        key = &AddSubkey(*key, part, &created);
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
    size_t at = LowerBound(parent->subkeys, parts.back(), KeyName);
    if (at == parent->subkeys.size() || CompareNames(parent->subkeys[at]->Name(), parts.back()) != 0)
        return false;
    MarkDeleted(*parent->subkeys[at]);
    parent->subkeys.Erase(at);
    return true;
}

RegKey &Tree::AddSubkey(RegKey &parent, std::u16string_view name, bool *created)
{
    size_t at = LowerBound(parent.subkeys, name, KeyName);
    if (at < parent.subkeys.size() && CompareNames(parent.subkeys[at]->Name(), name) == 0) {
        *created = false;
        return *parent.subkeys[at];
    }
    RegKey &key = NewKey(name);
    key.lastWrite = Tick();
    *parent.subkeys.Open(*arena_, at, 1) = &key;
    *created = true;
    return key;
}

RegKey &Tree::AppendSubkey(RegKey &parent, std::u16string_view name)
{
    RegKey &key = NewKey(name);
    key.lastWrite = Tick();
    *parent.subkeys.Open(*arena_, parent.subkeys.size(), 1) = &key;
    return key;
}

void Tree::SetClass(RegKey &key, std::u16string_view className)
{
    key.class_ = Keep(className);
    key.classLength_ = static_cast<std::uint32_t>(className.size());
}

RegValue Tree::MakeValue(std::u16string_view name, Type type, Bytes data)
{
    RegValue value;
    value.type = type;
    value.nameLength_ = static_cast<std::uint32_t>(name.size());
    value.dataLength_ = value.capacity_ = static_cast<std::uint32_t>(data.size());
    if (name.empty() && data.empty())
        return value;
    // The data follows the name, byte for byte.
    auto *kept = static_cast<char16_t *>(
        arena_->Allocate(name.size() * sizeof(char16_t) + data.size(), alignof(char16_t)));
    if (!name.empty())
        std::memcpy(kept, name.data(), name.size() * sizeof(char16_t));
    if (!data.empty())
        std::memcpy(kept + name.size(), data.data(), data.size());
    value.name_ = kept;
    return value;
}

void Tree::SetValue(RegKey &key, std::u16string_view name, Type type, Bytes data)
{
    size_t at = LowerBound(key.values, name, ValueName);
    bool exists = at < key.values.size() && CompareNames(key.values[at].Name(), name) == 0;
    if (!exists) {
        *key.values.Open(*arena_, at, 1) = MakeValue(name, type, data);
        return;
    }
    Rewrite(key.values[at], type, data);
}

void Tree::Rewrite(RegValue &value, Type type, Bytes data)
{
    value.type = type;
    if (data.size() <= value.capacity_) {
        if (!data.empty())
            std::memmove(const_cast<char16_t *>(value.name_ + value.nameLength_), data.data(), data.size());
        value.dataLength_ = static_cast<std::uint32_t>(data.size());
        return;
    }
    // A value keeps the spelling of the name it was created with.
    const char16_t *old = value.name_;
    value = MakeValue(value.Name(), type, data);
    arena_->Release(old);
}

bool Tree::DeleteValue(RegKey &key, std::u16string_view name)
{
    size_t at = LowerBound(key.values, name, ValueName);
    if (at == key.values.size() || CompareNames(key.values[at].Name(), name) != 0)
        return false;
    key.values.Erase(at);
    return true;
}

void Tree::AppendValues(RegKey &key, const RegValue *values, size_t count)
{
    if (count)
        std::memcpy(static_cast<void *>(key.values.Open(*arena_, key.values.size(), count)), values,
                    count * sizeof(RegValue));
}

void Tree::ReplaceValues(RegKey &key, const RegValue *values, size_t count)
{
    key.values.Clear();
    AppendValues(key, values, count);
}

void Tree::SetValue(Root root, std::u16string_view path, std::u16string_view name, Type type, Bytes data)
{
    RegKey &key = CreateKey(root, path);
    SetValue(key, name, type, data);
    key.lastWrite = Tick();
}

const RegValue *Tree::FindValue(Root root, std::u16string_view path, std::u16string_view name) const
{
    RegKey *key = FindKey(root, path);
    return key ? key->FindValue(name) : nullptr;
}

void KeepUntilExit(Tree tree)
{
    static auto *kept = new std::vector<Tree>(); // never destroyed: the process's end gives it back
    kept->push_back(std::move(tree));
}

} // namespace registry
