// Reads a .res image: each entry is a header (data size, header size, type,
// name, data version, flags, language, version, characteristics) followed
// by its data, both padded to four bytes.
#include "platform/sim/resources.h"

#include "bytes/le_reader.h"
#include "registry/names.h"

namespace sim {
namespace {

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
    return registry::EqualNoCase(name, other.name);
}

Resources::Resources(const BYTE *image, size_t size)
{
    bytes::LeReader r(image, size);
    while (r.Pos() < size) {
        size_t start = r.Pos();
        Resource res;
        DWORD dataSize = r.Dword();
        DWORD headerSize = r.Dword();
        res.type.name = r.StringOrOrdinal(&res.type.ordinal);
        res.name.name = r.StringOrOrdinal(&res.name.ordinal);
        r.AlignDword();
        r.Dword(); // data version
        r.Word();  // memory flags
        res.language = r.Word();
        r.Dword(); // version
        r.Dword(); // characteristics
        if (!r.Ok() || headerSize < r.Pos() - start || headerSize > size - start ||
            dataSize > size - start - headerSize) {
            return;
        }
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
