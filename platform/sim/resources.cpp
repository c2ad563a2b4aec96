// Reads a .res image: each entry is a header (data size, header size, type,
// name, data version, flags, language, version, characteristics) followed
// by its data, both padded to four bytes.
#include "resources.h"

#include "wtext.h"

#include <cstring>

namespace sim {
namespace {

class Reader {
public:
    Reader(const BYTE *p, size_t size) : p_(p), size_(size) {}
    size_t Pos() const { return pos_; }
    bool Seek(size_t pos)
    {
        if (pos > size_)
            return false;
        pos_ = pos;
        return true;
    }
    bool Word(WORD &w)
    {
        if (size_ - pos_ < 2)
            return false;
        w = static_cast<WORD>(p_[pos_] | (p_[pos_ + 1] << 8));
        pos_ += 2;
        return true;
    }
    bool Dword(DWORD &d)
    {
        WORD lo, hi;
        if (!Word(lo) || !Word(hi))
            return false;
        d = lo | (static_cast<DWORD>(hi) << 16);
        return true;
    }
    bool Id(ResId &id)
    {
        WORD w;
        if (!Word(w))
            return false;
        if (w == 0xFFFF) {
            WORD ord;
            if (!Word(ord))
                return false;
            id.ordinal = ord;
            return true;
        }
        id.name.clear();
        while (w != 0) {
            id.name.push_back(static_cast<char16_t>(w));
            if (!Word(w))
                return false;
        }
        return true;
    }

private:
    const BYTE *p_;
    size_t size_;
    size_t pos_ = 0;
};

size_t Align4(size_t n) { return (n + 3) & ~static_cast<size_t>(3); }

} // namespace

ResId ResId::From(LPCWSTR id)
{
    ResId r;
    if (IS_INTRESOURCE(id)) {
        r.ordinal = static_cast<WORD>(reinterpret_cast<UINT_PTR>(id));
    } else {
        for (LPCWSTR p = id; *p; ++p)
            r.name.push_back(*p);
    }
    return r;
}

bool ResId::Matches(const ResId &other) const
{
    if (ordinal || other.ordinal)
        return ordinal == other.ordinal;
    return EqualNoCase(name, other.name);
}

Resources::Resources(const BYTE *image, size_t size)
{
    Reader r(image, size);
    while (r.Pos() < size) {
        size_t start = r.Pos();
        DWORD dataSize, headerSize, dataVersion, version, characteristics;
        WORD flags, language;
        Resource res;
        if (!r.Dword(dataSize) || !r.Dword(headerSize) || !r.Id(res.type) || !r.Id(res.name) ||
            !r.Seek(Align4(r.Pos())) || !r.Dword(dataVersion) || !r.Word(flags) ||
            !r.Word(language) || !r.Dword(version) || !r.Dword(characteristics) ||
            headerSize < r.Pos() - start || headerSize > size - start ||
            dataSize > size - start - headerSize) {
            damaged_ = true;
            return;
        }
        res.language = language;
        const BYTE *data = image + start + headerSize;
        res.data.assign(data, data + dataSize);
        // The leading empty entry only marks the file as 32-bit.
        if (!(dataSize == 0 && res.type.ordinal == 0))
            entries_.push_back(std::move(res));
        size_t next = Align4(start + headerSize + dataSize);
        if (next >= size)
            break;
        r.Seek(next);
    }
}

const Resource *Resources::Find(const ResId &type, const ResId &name) const
{
    for (const auto &e : entries_)
        if (e.type.Matches(type) && e.name.Matches(name))
            return &e;
    return nullptr;
}

size_t Resources::IndexOf(const Resource *res) const
{
    return res ? static_cast<size_t>(res - entries_.data()) + 1 : 0;
}

const Resource *Resources::At(size_t index) const
{
    return index >= 1 && index <= entries_.size() ? &entries_[index - 1] : nullptr;
}

const Resource *Resources::Containing(const void *p) const
{
    auto b = static_cast<const BYTE *>(p);
    for (const auto &e : entries_)
        if (!e.data.empty() && b >= e.data.data() && b < e.data.data() + e.data.size())
            return &e;
    return nullptr;
}

} // namespace sim
