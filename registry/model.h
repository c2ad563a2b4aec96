// The registry as a value: keys with typed values in the registry's
// enumeration order, under five roots, with the registry's limits. The
// registry files read and write it; the simulated handheld serves the Win32
// calls over it. It knows nothing of handles or of Win32's types.
//
// A tree keeps everything it holds (keys, names, data and the lists of
// them) in its own arena, in few large blocks, because a registry file of
// millions of entries is loaded at once: no entry costs an allocation of
// its own, and nothing is freed until the tree goes, but data large enough
// for a block of its own, which a value replacing it gives back. A key
// taken out of the tree stays where it is, so handles to it stay valid.
#ifndef SAMBREL_REGISTRY_MODEL_H
#define SAMBREL_REGISTRY_MODEL_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace registry {

// A value's type, as the registry numbers them (REG_NONE, REG_SZ, ...).
using Type = std::uint32_t;
constexpr Type kTypeNone = 0, kTypeSz = 1, kTypeExpandSz = 2, kTypeBinary = 3, kTypeDword = 4, kTypeMultiSz = 7,
               kTypeQword = 11;

// Bytes seen where they lie.
class Bytes {
public:
    Bytes() = default;
    Bytes(const std::uint8_t *data, size_t size) : data_(data), size_(size) {}
    Bytes(const std::vector<std::uint8_t> &v) : data_(v.data()), size_(v.size()) {}

    const std::uint8_t *data() const { return data_; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::uint8_t operator[](size_t i) const { return data_[i]; }
    const std::uint8_t *begin() const { return data_; }
    const std::uint8_t *end() const { return data_ + size_; }
    std::vector<std::uint8_t> Copy() const { return {begin(), end()}; }

    friend bool operator==(Bytes a, Bytes b)
    {
        return a.size_ == b.size_ && (a.size_ == 0 || std::memcmp(a.data_, b.data_, a.size_) == 0);
    }
    friend bool operator!=(Bytes a, Bytes b) { return !(a == b); }

private:
    const std::uint8_t *data_ = nullptr;
    size_t size_ = 0;
};

// Memory handed out in order from large blocks and given back all at once,
// but for a large request, which has a block of its own that can be given
// back alone.
class Arena {
public:
    Arena() = default;
    Arena(const Arena &) = delete;
    Arena &operator=(const Arena &) = delete;

    void *Allocate(size_t bytes, size_t align)
    {
        // align is a power of two: the padding is found without a division.
        size_t pad = (0 - reinterpret_cast<std::uintptr_t>(next_)) & (align - 1);
        if (!next_ || pad + bytes > left_)
            return AllocateAnew(bytes, align);
        void *at = next_ + pad;
        next_ += pad + bytes;
        left_ -= pad + bytes;
        __builtin_prefetch(next_ + 512, 1); // what comes next is written soon
        return at;
    }
    template <typename T> T *Array(size_t count)
    {
        return static_cast<T *>(Allocate(count * sizeof(T), alignof(T)));
    }
    // Gives back what Allocate returned, if it has a block of its own;
    // anything else stays until the arena goes.
    void Release(const void *at);
    // Of the bytes Allocate just returned at at, keeps the first used and
    // gives the rest back, where nothing was allocated after them.
    void Trim(const void *at, size_t bytes, size_t used)
    {
        if (static_cast<const unsigned char *>(at) + bytes != next_)
            return; // in a block of its own, or allocated before others
        next_ -= bytes - used;
        left_ += bytes - used;
    }
    // The bytes of all the blocks the arena holds.
    size_t Held() const { return held_; }

private:
    // From a new block, or one of its own.
    void *AllocateAnew(size_t bytes, size_t align);

    struct Own {
        std::unique_ptr<unsigned char[]> block;
        size_t size;
    };
    std::vector<std::unique_ptr<unsigned char[]>> blocks_;
    std::unordered_map<const void *, Own> own_; // by the address handed out
    unsigned char *next_ = nullptr;
    size_t left_ = 0;
    size_t blockSize_ = 64 * 1024;
    size_t held_ = 0;
};

// A list in a tree's arena: read like a vector, changed through the tree.
// Its items are plain (copied as bytes).
template <typename T> class List {
public:
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    T *data() { return items_; }
    const T *data() const { return items_; }
    T &operator[](size_t i) { return items_[i]; }
    const T &operator[](size_t i) const { return items_[i]; }
    T *begin() { return items_; }
    T *end() { return items_ + size_; }
    const T *begin() const { return items_; }
    const T *end() const { return items_ + size_; }
    T &back() { return items_[size_ - 1]; }
    const T &back() const { return items_[size_ - 1]; }

    // Room for count more items at position at, moving the rest up; the
    // list moves to a block twice as large when it is full.
    T *Open(Arena &arena, size_t at, size_t count)
    {
        if (size_ + count > capacity_) {
            size_t capacity = capacity_ * 2 > size_ + count ? capacity_ * 2 : size_ + count;
            T *grown = arena.Array<T>(capacity);
            if (size_)
                std::memcpy(static_cast<void *>(grown), items_, size_ * sizeof(T));
            items_ = grown;
            capacity_ = static_cast<std::uint32_t>(capacity);
        }
        if (at < size_)
            std::memmove(static_cast<void *>(items_ + at + count), items_ + at, (size_ - at) * sizeof(T));
        size_ += static_cast<std::uint32_t>(count);
        return items_ + at;
    }
    void Erase(size_t at)
    {
        std::memmove(static_cast<void *>(items_ + at), items_ + at + 1, (size_ - at - 1) * sizeof(T));
        --size_;
    }
    void Clear() { size_ = 0; }

private:
    T *items_ = nullptr;
    std::uint32_t size_ = 0;
    std::uint32_t capacity_ = 0;
};

// A named value. Its name and data lie together in the tree's arena, in a
// place with room for capacity_ bytes of data.
class RegValue {
public:
    Type type = kTypeNone;

    std::u16string_view Name() const { return {name_, nameLength_}; }
    Bytes Data() const { return {reinterpret_cast<const std::uint8_t *>(name_ + nameLength_), dataLength_}; }

private:
    friend class Tree;
    std::uint32_t capacity_ = 0; // beside type, where a 64-bit build pads
    const char16_t *name_ = u"";
    std::uint32_t nameLength_ = 0;
    std::uint32_t dataLength_ = 0;
};

struct RegKey {
    std::u16string_view Name() const { return {name_, nameLength_}; }
    std::u16string_view ClassName() const { return {class_, classLength_}; }

private:
    friend class Tree;
    // First, beside the mark: a key looked for by its name is read from one
    // cache line.
    const char16_t *name_ = u"";
    std::uint32_t nameLength_ = 0;

public:
    // Free for whoever builds a tree in bulk, and 0 once it is built: the
    // registry files' loader numbers the keys whose lists wait to be put
    // in order.
    std::uint32_t mark = 0;
    std::uint64_t lastWrite = 0;
    // Both kept in the registry's enumeration order (CompareNames).
    List<RegKey *> subkeys;
    List<RegValue> values;

    RegKey *FindSubkey(std::u16string_view name) const;
    // The key the names lead to, each a subkey of the one before; nullptr
    // where one is missing.
    RegKey *FindPath(const std::vector<std::u16string_view> &names);
    const RegValue *FindValue(std::u16string_view name) const;

private:
    const char16_t *class_ = u"";
    std::uint32_t classLength_ = 0;

public:
    bool deleted = false; // taken out of the tree (open handles still see it)
};

// The longest key name component and value name the registry takes, in
// UTF-16 units, and how deep keys nest.
constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;
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
    Tree(Tree &&) noexcept = default;
    Tree &operator=(Tree &&) noexcept = default;

    RegKey &RootKey(Root root) const;
    RegKey *FindKey(Root root, std::u16string_view path) const;
    RegKey &CreateKey(Root root, std::u16string_view path);
    // Takes the key and everything under it out of the tree.
    bool DeleteKey(Root root, std::u16string_view path);
    void SetValue(Root root, std::u16string_view path, std::u16string_view name, Type type, Bytes data);
    const RegValue *FindValue(Root root, std::u16string_view path, std::u16string_view name) const;

    // One key's children and values.
    // The child of that name, made if there is none (created says which).
    RegKey &AddSubkey(RegKey &parent, std::u16string_view name, bool *created);
    // Creates or replaces a value. Replaced data is written over the old
    // where it fits; where it does not, the old place is given back if it
    // has a block of its own.
    void SetValue(RegKey &key, std::u16string_view name, Type type, Bytes data);
    bool DeleteValue(RegKey &key, std::u16string_view name);
    // A value given other data, with the same rule: in its own place where
    // it fits, the old place given back where it does not.
    void Rewrite(RegValue &value, Type type, Bytes data);
    void SetClass(RegKey &key, std::u16string_view className);

    // For loading many entries at once, which the loader then puts in the
    // registry's order: a new child appended at the end of parent's
    // subkeys, a value made without a key, and values appended at the end
    // of a key's.
    RegKey &AppendSubkey(RegKey &parent, std::u16string_view name);
    RegValue MakeValue(std::u16string_view name, Type type, Bytes data);
    // A value written straight into the tree's memory, sized once from
    // what it is read from: Room gives bytes of room for its name (UTF-16)
    // and then its data, MadeIn makes value (in the caller's place) of what
    // was written there and gives the rest of the room back.
    char16_t *Room(size_t bytes) { return static_cast<char16_t *>(arena_->Allocate(bytes, alignof(char16_t))); }
    void MadeIn(RegValue &value, char16_t *room, size_t bytes, size_t nameLength, Type type, size_t dataLength)
    {
        value.type = type;
        value.nameLength_ = static_cast<std::uint32_t>(nameLength);
        value.dataLength_ = value.capacity_ = static_cast<std::uint32_t>(dataLength);
        size_t used = nameLength * sizeof(char16_t) + dataLength;
        arena_->Trim(room, bytes, used);
        value.name_ = used ? room : u"";
        if (!used)
            arena_->Release(room);
    }
    void AppendValues(RegKey &key, const RegValue *values, size_t count);
    // The key's values replaced with count others.
    void ReplaceValues(RegKey &key, const RegValue *values, size_t count);

    // The clock that stamps keys' last write.
    std::uint64_t Tick() { return ++clock_; }

    // The memory the tree holds, in bytes.
    size_t Held() const { return arena_->Held(); }

private:
    const char16_t *Keep(std::u16string_view text);
    RegKey &NewKey(std::u16string_view name);

    std::unique_ptr<Arena> arena_; // apart, so that moving the tree moves nothing it holds
    std::vector<RegKey *> roots_;
    std::uint64_t clock_ = 0;
};

// Keeps a tree until the process ends, for a program about to end: its
// memory then goes back with the process, at once, rather than a block at
// a time, and stays reachable, so that a leak checker finds nothing lost.
void KeepUntilExit(Tree tree);

} // namespace registry

#endif
