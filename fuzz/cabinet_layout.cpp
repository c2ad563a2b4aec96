#include "fuzz/cabinet_layout.h"

#include <algorithm>
#include <cstring>

namespace fuzz {
namespace {

constexpr std::size_t kHeaderSize = 36, kFolderSize = 8, kFileSize = 16, kBlockHeaderSize = 8;
constexpr std::size_t kBlockMax = 32768;

std::uint32_t Le(const std::uint8_t *p, int bytes)
{
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

void PutLe(Bytes &out, std::uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::uint32_t Fold(const std::uint8_t *p, std::size_t n, std::uint32_t sum)
{
    for (; n >= 4; p += 4, n -= 4)
        sum ^= Le(p, 4);
    std::uint32_t tail = 0;
    for (; n; ++p, --n)
        tail = tail << 8 | *p; // the last bytes taken high to low
    return sum ^ tail;
}

// Reads what lies at [at, at + n) in the input; false past its end.
struct Reader {
    const std::uint8_t *data;
    std::size_t size;
    bool Has(std::size_t at, std::size_t n) const { return at <= size && n <= size - at; }
};

bool ParseFiles(const Reader &in, std::size_t at, std::size_t count, CabinetLayout &cab)
{
    for (std::size_t i = 0; i < count; ++i) {
        if (!in.Has(at, kFileSize))
            return false;
        CabinetLayout::File f;
        const std::uint8_t *p = in.data + at;
        f.size = Le(p, 4);
        f.offset = Le(p + 4, 4);
        f.folder = static_cast<std::uint16_t>(Le(p + 8, 2));
        f.date = static_cast<std::uint16_t>(Le(p + 10, 2));
        f.time = static_cast<std::uint16_t>(Le(p + 12, 2));
        f.attributes = static_cast<std::uint16_t>(Le(p + 14, 2));
        at += kFileSize;
        const void *end = std::memchr(in.data + at, 0, in.size - at);
        if (!end)
            return false;
        f.name.assign(reinterpret_cast<const char *>(in.data + at), reinterpret_cast<const char *>(end));
        at += f.name.size() + 1;
        cab.files.push_back(f);
    }
    return true;
}

bool ParseBlocks(const Reader &in, std::size_t at, std::size_t count, CabinetLayout::Folder &folder)
{
    for (std::size_t i = 0; i < count; ++i) {
        if (!in.Has(at, kBlockHeaderSize))
            return false;
        std::size_t n = Le(in.data + at + 4, 2);
        CabinetLayout::Block b;
        b.uncompressed = static_cast<std::uint16_t>(Le(in.data + at + 6, 2));
        at += kBlockHeaderSize;
        if (!in.Has(at, n))
            return false;
        b.data.assign(in.data + at, in.data + at + n);
        at += n;
        folder.blocks.push_back(std::move(b));
    }
    return true;
}

} // namespace

std::uint32_t BlockChecksum(const Bytes &data, std::uint16_t uncompressed)
{
    const std::uint8_t sizes[4] = {static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(data.size() >> 8),
                                   static_cast<std::uint8_t>(uncompressed), static_cast<std::uint8_t>(uncompressed >> 8)};
    return Fold(sizes, 4, Fold(data.data(), data.size(), 0));
}

std::optional<CabinetLayout> CabinetLayout::Parse(const std::uint8_t *data, std::size_t size)
{
    Reader in{data, size};
    if (!in.Has(0, kHeaderSize) || std::memcmp(data, "MSCF", 4) != 0 || Le(data + 30, 2) != 0)
        return std::nullopt; // flags: reserved areas, or a cabinet of a set
    CabinetLayout cab;
    cab.reserved[0] = Le(data + 4, 4);
    cab.reserved[1] = Le(data + 12, 4);
    cab.reserved[2] = Le(data + 20, 4);
    cab.minor = data[24];
    cab.major = data[25];
    cab.setId = static_cast<std::uint16_t>(Le(data + 32, 2));
    cab.index = static_cast<std::uint16_t>(Le(data + 34, 2));
    std::size_t folders = Le(data + 26, 2), files = Le(data + 28, 2);
    if (!in.Has(kHeaderSize, folders * kFolderSize) || !ParseFiles(in, Le(data + 16, 4), files, cab))
        return std::nullopt;
    for (std::size_t i = 0; i < folders; ++i) {
        const std::uint8_t *p = data + kHeaderSize + i * kFolderSize;
        Folder f;
        f.method = static_cast<std::uint16_t>(Le(p + 6, 2));
        if (!ParseBlocks(in, Le(p, 4), Le(p + 4, 2), f))
            return std::nullopt;
        cab.folders.push_back(std::move(f));
    }
    return cab;
}

Bytes CabinetLayout::Put(Checksums checksums) const
{
    Bytes names;
    for (const File &f : files) {
        PutLe(names, f.size, 4);
        PutLe(names, f.offset, 4);
        PutLe(names, f.folder, 2);
        PutLe(names, f.date, 2);
        PutLe(names, f.time, 2);
        PutLe(names, f.attributes, 2);
        names.insert(names.end(), f.name.begin(), f.name.end());
        names.push_back(0);
    }
    const std::size_t filesAt = kHeaderSize + kFolderSize * folders.size();
    std::size_t dataAt = filesAt + names.size(), total = dataAt;
    for (const Folder &f : folders)
        for (const Block &b : f.blocks)
            total += kBlockHeaderSize + b.data.size();
    Bytes out = {'M', 'S', 'C', 'F'};
    for (std::uint32_t v : {reserved[0], static_cast<std::uint32_t>(total), reserved[1],
                            static_cast<std::uint32_t>(filesAt), reserved[2]})
        PutLe(out, v, 4);
    out.push_back(minor);
    out.push_back(major);
    for (std::size_t v : {folders.size(), files.size(), std::size_t{0}, std::size_t{setId}, std::size_t{index}})
        PutLe(out, static_cast<std::uint32_t>(v), 2);
    for (const Folder &f : folders) {
        PutLe(out, static_cast<std::uint32_t>(dataAt), 4);
        PutLe(out, static_cast<std::uint32_t>(f.blocks.size()), 2);
        PutLe(out, f.method, 2);
        for (const Block &b : f.blocks)
            dataAt += kBlockHeaderSize + b.data.size();
    }
    out.insert(out.end(), names.begin(), names.end());
    for (const Folder &f : folders) {
        for (const Block &b : f.blocks) {
            std::uint32_t sum = checksums == Checksums::None ? 0 : BlockChecksum(b.data, b.uncompressed);
            PutLe(out, checksums == Checksums::Wrong ? ~sum : sum, 4);
            PutLe(out, static_cast<std::uint32_t>(b.data.size()), 2);
            PutLe(out, b.uncompressed, 2);
            out.insert(out.end(), b.data.begin(), b.data.end());
        }
    }
    return out;
}

Bytes CabinetLayout::Plain(std::size_t folder) const
{
    Bytes plain;
    for (const Block &b : folders[folder].blocks)
        plain.insert(plain.end(), b.data.begin(), b.data.end());
    return plain;
}

void CabinetLayout::SetPlain(std::size_t folder, const Bytes &plain)
{
    auto &blocks = folders[folder].blocks;
    blocks.clear();
    for (std::size_t at = 0; at < plain.size(); at += kBlockMax) {
        std::size_t n = std::min(kBlockMax, plain.size() - at);
        blocks.push_back({Bytes(plain.begin() + static_cast<std::ptrdiff_t>(at),
                                plain.begin() + static_cast<std::ptrdiff_t>(at + n)),
                          static_cast<std::uint16_t>(n)});
    }
}

int CabinetLayout::SetupFile() const
{
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string &name = files[i].name;
        if (name.size() >= 4 && name.compare(name.size() - 4, 4, ".000") == 0)
            return static_cast<int>(i);
    }
    return -1;
}

std::size_t CabinetLayout::SetupMethod() const
{
    int setup = SetupFile();
    if (setup < 0 || files[static_cast<std::size_t>(setup)].folder >= folders.size())
        return kLzx + 1;
    return std::min<std::size_t>(folders[files[static_cast<std::size_t>(setup)].folder].method & kMethodMask, kLzx + 1);
}

} // namespace fuzz
