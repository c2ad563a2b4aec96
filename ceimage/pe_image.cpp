// Reads a Windows CE ARM image with every offset and size checked against
// the file: a damaged image is refused, never read past its end. The
// reader's work and memory grow with the file, never faster: no two
// sections, tables, directories or resources may lie over each other, so
// none is read twice, and a table may not reach past its section.
#include "ceimage/pe_image.h"

#include "bytes/le_reader.h"
#include "text/ascii.h"

#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>

namespace ceimage {
namespace {

constexpr std::uint16_t kMachineArm = 0x01C0;
constexpr std::uint16_t kSubsystemWindowsCeGui = 9;
// As Windows' own loader takes at most.
constexpr std::uint16_t kMaxSections = 96;

// The image as the loader lays it out: a view by RVA over the sections.
class Layout {
public:
    explicit Layout(const PeImage &image) : image_(image) {}
    // The bytes at [rva, rva + n), if they lie in one section's raw data.
    const std::uint8_t *At(std::uint32_t rva, std::uint32_t n) const
    {
        for (const auto &s : image_.sections) {
            if (rva >= s.rva && rva - s.rva <= s.data.size() && n <= s.data.size() - (rva - s.rva))
                return s.data.data() + (rva - s.rva);
        }
        return nullptr;
    }
    bool U32(std::uint32_t rva, std::uint32_t &out) const
    {
        const std::uint8_t *p = At(rva, 4);
        if (p)
            out = bytes::LeReader(p, 4).DwordAt(0);
        return p != nullptr;
    }
    bool U16(std::uint32_t rva, std::uint16_t &out) const
    {
        const std::uint8_t *p = At(rva, 2);
        if (p)
            out = bytes::LeReader(p, 2).WordAt(0);
        return p != nullptr;
    }

private:
    const PeImage &image_;
};

// The pieces of the image that tables have taken, as [begin, end) ranges:
// a piece that overlaps one taken before is refused.
class Claims {
public:
    bool Take(std::uint64_t begin, std::uint64_t size)
    {
        if (size == 0)
            return true;
        std::uint64_t end = begin + size;
        auto next = taken_.lower_bound(begin);
        if (next != taken_.end() && next->first < end)
            return false;
        if (next != taken_.begin() && std::prev(next)->second > begin)
            return false;
        taken_.emplace(begin, end);
        return true;
    }

private:
    std::map<std::uint64_t, std::uint64_t> taken_;
};

bool ReadRelocations(PeImage &image, const Layout &layout, std::uint32_t rva, std::uint32_t size,
                     std::string &error)
{
    if (size && !layout.At(rva, size)) {
        error = "base relocation directory larger than its section";
        return false;
    }
    std::uint32_t at = 0;
    while (at + 8 <= size) {
        std::uint32_t page = 0, block = 0;
        if (!layout.U32(rva + at, page) || !layout.U32(rva + at + 4, block) || block < 8 ||
            block > size - at) {
            error = "damaged base relocation block (larger than its section)";
            return false;
        }
        for (std::uint32_t e = 8; e + 2 <= block; e += 2) {
            std::uint16_t entry = 0;
            layout.U16(rva + at + e, entry);
            unsigned type = entry >> 12;
            if (type == 0)
                continue; // padding
            if (type != 3) {
                error = "base relocation of type " + std::to_string(type) + " (only HIGHLOW is known)";
                return false;
            }
            image.relocations.push_back(page + (entry & 0xFFFu));
        }
        at += block;
    }
    return true;
}

bool ReadImports(PeImage &image, const Layout &layout, std::uint32_t rva, std::string &error)
{
    Claims tables;
    for (std::uint32_t d = rva;; d += 20) {
        std::uint32_t lookup = 0, nameRva = 0, table = 0;
        if (!layout.U32(d, lookup) || !layout.U32(d + 12, nameRva) || !layout.U32(d + 16, table)) {
            error = "damaged import directory";
            return false;
        }
        if (lookup == 0 && nameRva == 0 && table == 0)
            return true;
        std::string name;
        for (std::uint32_t i = 0; i < 256; ++i) {
            const std::uint8_t *c = layout.At(nameRva + i, 1);
            if (!c) {
                error = "damaged import library name";
                return false;
            }
            if (*c == 0)
                break;
            name.push_back(static_cast<char>(*c));
        }
        name = text::AsciiFolded(name, text::AsciiCase::Upper);
        if (name != "COREDLL.DLL") {
            error = "imports from " + name + ": a handheld program imports from COREDLL.dll only";
            return false;
        }
        std::uint32_t source = lookup ? lookup : table;
        std::uint32_t count = 0;
        for (;; ++count) {
            std::uint32_t entry = 0;
            if (!layout.U32(source + 4 * count, entry) || !layout.At(table + 4 * count, 4)) {
                error = "damaged import table";
                return false;
            }
            if (entry == 0)
                break;
            if (!(entry & 0x80000000u)) {
                error = "imports from COREDLL.dll by name; the handheld's library is imported by ordinal";
                return false;
            }
            image.imports.push_back({table + 4 * count, static_cast<std::uint16_t>(entry & 0xFFFF)});
        }
        // Each descriptor has tables of its own.
        std::uint64_t bytes = 4 * (std::uint64_t{count} + 1);
        if (!tables.Take(table, bytes) || (source != table && !tables.Take(source, bytes))) {
            error = "import tables shared or overlapping";
            return false;
        }
    }
}

// The resource directory: three levels (type, name, language) of tables
// and the data entries under them, every piece taken once.
class ResourceReader {
public:
    ResourceReader(const Layout &layout, std::uint32_t rva, std::uint32_t size, std::size_t fileSize)
        : layout_(layout), rva_(rva), size_(size), nameBudget_(fileSize)
    {
    }

    bool Read(PeImage &image)
    {
        return ForEntries(0, [&](const sim::ResId &type, bool isDir, std::uint32_t at) {
            return isDir && ForEntries(at, [&](const sim::ResId &name, bool isDir2, std::uint32_t at2) {
                return isDir2 && ForEntries(at2, [&](const sim::ResId &lang, bool isDir3, std::uint32_t leaf) {
                    return !isDir3 && Leaf(image, type, name, lang, leaf);
                });
            });
        });
    }

private:
    // One table: calls f(id, isDirectory, offset) per entry.
    template <typename F>
    bool ForEntries(std::uint32_t dir, F f)
    {
        std::uint16_t named = 0, ids = 0;
        if (dir > size_ || !layout_.U16(rva_ + dir + 12, named) || !layout_.U16(rva_ + dir + 14, ids))
            return false;
        std::uint32_t count = static_cast<std::uint32_t>(named) + ids;
        if (!claims_.Take(std::uint64_t{rva_} + dir, 16 + 8 * std::uint64_t{count}))
            return false; // a table shared, or lying in another
        for (std::uint32_t i = 0; i < count; ++i) {
            std::uint32_t nameField = 0, target = 0;
            if (!layout_.U32(rva_ + dir + 16 + 8 * i, nameField) || !layout_.U32(rva_ + dir + 20 + 8 * i, target))
                return false;
            sim::ResId id;
            if (nameField & 0x80000000u) {
                if (!Name(nameField & 0x7FFFFFFFu, id.name))
                    return false;
            } else {
                id.ordinal = static_cast<WORD>(nameField & 0xFFFF);
            }
            if (!f(id, (target & 0x80000000u) != 0, target & 0x7FFFFFFFu))
                return false;
        }
        return true;
    }

    // A name string, which entries may share: each is read once, and the
    // copies the resources keep are bounded by the file's size.
    bool Name(std::uint32_t at, std::u16string &name)
    {
        auto known = names_.find(at);
        if (known == names_.end()) {
            std::uint16_t length = 0;
            if (at > size_ || !layout_.U16(rva_ + at, length) ||
                !claims_.Take(std::uint64_t{rva_} + at, 2 + 2 * std::uint64_t{length}))
                return false;
            std::u16string text;
            for (std::uint16_t k = 0; k < length; ++k) {
                std::uint16_t c = 0;
                if (!layout_.U16(rva_ + at + 2 + 2u * k, c))
                    return false;
                text.push_back(static_cast<char16_t>(c));
            }
            known = names_.emplace(at, std::move(text)).first;
        }
        name = known->second;
        return Charge(name);
    }

    // Every copy of a name counts: a long name may stand over many
    // resources, and each resource keeps its type's and its name's.
    bool Charge(const std::u16string &name)
    {
        std::size_t bytes = 2 * name.size();
        if (bytes > nameBudget_)
            return false;
        nameBudget_ -= bytes;
        return true;
    }

    bool Leaf(PeImage &image, const sim::ResId &type, const sim::ResId &name, const sim::ResId &lang,
              std::uint32_t leaf)
    {
        std::uint32_t dataRva = 0, dataSize = 0;
        if (leaf > size_ || !layout_.U32(rva_ + leaf, dataRva) || !layout_.U32(rva_ + leaf + 4, dataSize) ||
            !claims_.Take(std::uint64_t{rva_} + leaf, 16))
            return false;
        const std::uint8_t *p = layout_.At(dataRva, dataSize);
        if (!p || !claims_.Take(dataRva, dataSize) || !Charge(type.name) || !Charge(name.name))
            return false;
        ImageResource r;
        r.resource.type = type;
        r.resource.name = name;
        r.resource.language = lang.ordinal.value_or(0);
        r.resource.data.assign(p, p + dataSize);
        r.rva = dataRva;
        image.resources.push_back(std::move(r));
        return true;
    }

    const Layout &layout_;
    std::uint32_t rva_, size_;
    std::size_t nameBudget_;
    Claims claims_;
    std::map<std::uint32_t, std::u16string> names_;
};

bool ReadResources(PeImage &image, const Layout &layout, std::uint32_t rva, std::uint32_t size,
                   std::size_t fileSize, std::string &error)
{
    if (ResourceReader(layout, rva, size, fileSize).Read(image))
        return true;
    error = "damaged resource directory (or its tables, names or data shared or overlapping)";
    return false;
}

// Where the headers put the optional header, and how many sections follow.
struct Headers {
    std::uint64_t opt = 0;
    std::uint16_t optSize = 0;
    std::uint16_t sections = 0;
};

// The DOS, PE and optional headers: an ARM program for Windows CE, and its
// base, sizes and entry, which must fit the handheld's process space.
std::optional<Headers> ReadHeaders(const std::vector<std::uint8_t> &bytes, PeImage &image, std::string &error)
{
    bytes::LeReader b(bytes.data(), bytes.size());
    if (bytes.size() > kMaxImageBytes) {
        error = "larger than an image may be (" + std::to_string(kMaxImageBytes >> 20) + " MiB)";
        return std::nullopt;
    }
    if (!b.Has(0, 64) || bytes[0] != 'M' || bytes[1] != 'Z') {
        error = "not an executable image (no MZ header)";
        return std::nullopt;
    }
    std::uint32_t pe = b.DwordAt(0x3C);
    if (!b.Has(pe, 24) || std::memcmp(bytes.data() + pe, "PE\0\0", 4) != 0) {
        error = "not a PE image";
        return std::nullopt;
    }
    std::uint16_t machine = b.WordAt(pe + 4);
    if (machine != kMachineArm) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%04X", machine);
        error = machine == 0x01C2 || machine == 0x01C4
                    ? std::string("a Thumb image (machine ") + hex + "); the StrongARM runs ARM code only"
                    : std::string("not an ARM image (machine ") + hex + ")";
        return std::nullopt;
    }
    Headers h{pe + 24, b.WordAt(pe + 20), b.WordAt(pe + 6)};
    if (h.optSize < 224 || !b.Has(h.opt, h.optSize) || b.WordAt(h.opt) != 0x10B) {
        error = "no PE32 optional header";
        return std::nullopt;
    }
    if (b.WordAt(h.opt + 68) != kSubsystemWindowsCeGui) {
        error = "not a Windows CE program (subsystem " + std::to_string(b.WordAt(h.opt + 68)) + ")";
        return std::nullopt;
    }
    image.entryRva = b.DwordAt(h.opt + 16);
    image.imageBase = b.DwordAt(h.opt + 28);
    image.sizeOfImage = b.DwordAt(h.opt + 56);
    image.sizeOfHeaders = b.DwordAt(h.opt + 60);
    image.stackReserve = b.DwordAt(h.opt + 72);
    if (image.sizeOfImage == 0 || image.imageBase & 0xFFFF || image.imageBase < kImageSpaceBegin ||
        std::uint64_t{image.imageBase} + image.sizeOfImage > kImageSpaceEnd || image.sizeOfHeaders == 0 ||
        image.sizeOfHeaders > bytes.size() || image.sizeOfHeaders > image.sizeOfImage) {
        error = "image base or size out of range";
        return std::nullopt;
    }
    image.headers.assign(bytes.begin(), bytes.begin() + image.sizeOfHeaders);
    return h;
}

// The section table, and each section's raw bytes: in ascending order, in
// pages of their own, none over another in the file.
bool ReadSections(const std::vector<std::uint8_t> &bytes, const Headers &h, PeImage &image, std::string &error)
{
    bytes::LeReader b(bytes.data(), bytes.size());
    if (h.sections > kMaxSections) {
        error = std::to_string(h.sections) + " sections; an image has at most " + std::to_string(kMaxSections);
        return false;
    }
    std::uint64_t table = h.opt + h.optSize;
    Claims raw;
    std::uint64_t laidOut = 0; // where the sections laid out so far end
    for (std::uint16_t i = 0; i < h.sections; ++i) {
        std::uint64_t at = table + 40u * i;
        if (!b.Has(at, 40)) {
            error = "damaged section table";
            return false;
        }
        ImageSection s;
        s.name.assign(reinterpret_cast<const char *>(bytes.data() + at), 8);
        s.name.resize(s.name.find('\0') == std::string::npos ? 8 : s.name.find('\0'));
        s.virtualSize = b.DwordAt(at + 8);
        s.rva = b.DwordAt(at + 12);
        std::uint32_t rawSize = b.DwordAt(at + 16), rawAt = b.DwordAt(at + 20);
        s.characteristics = b.DwordAt(at + 36);
        std::uint32_t span = s.virtualSize ? s.virtualSize : rawSize;
        if (!b.Has(rawAt, rawSize) || s.rva < image.sizeOfHeaders || s.rva & 0xFFF ||
            s.rva > image.sizeOfImage || span > image.sizeOfImage - s.rva) {
            error = "section " + s.name + " lies outside the image";
            return false;
        }
        // In ascending order, each in its own pages and its own bytes.
        std::uint32_t copied = std::min(rawSize, span);
        if (s.rva < laidOut || !raw.Take(rawAt, copied)) {
            error = "section " + s.name + " overlaps another: sections lie in ascending order, each apart";
            return false;
        }
        laidOut = s.rva + ((std::uint64_t{span} + 0xFFF) & ~std::uint64_t{0xFFF});
        s.data.assign(bytes.begin() + rawAt, bytes.begin() + rawAt + copied);
        image.sections.push_back(std::move(s));
    }
    return true;
}

// The data directories the loader reads (base relocations, imports,
// resources) within the sections, and the entry point within the image.
bool ReadDirectories(const std::vector<std::uint8_t> &bytes, const Headers &h, PeImage &image, std::string &error)
{
    bytes::LeReader b(bytes.data(), bytes.size());
    Layout layout(image);
    std::uint32_t dirs = b.DwordAt(h.opt + 92);
    auto dir = [&](unsigned i, std::uint32_t &rva, std::uint32_t &size) {
        rva = i < dirs ? b.DwordAt(h.opt + 96 + 8 * i) : 0;
        size = i < dirs ? b.DwordAt(h.opt + 100 + 8 * i) : 0;
        return rva != 0;
    };
    std::uint32_t rva = 0, size = 0;
    if (dir(5, rva, size) && !ReadRelocations(image, layout, rva, size, error))
        return false;
    if (dir(1, rva, size) && !ReadImports(image, layout, rva, error))
        return false;
    if (dir(2, rva, size) && !ReadResources(image, layout, rva, size, bytes.size(), error))
        return false;
    for (std::uint32_t r : image.relocations) {
        if (r > image.sizeOfImage - 4) {
            error = "base relocation outside the image";
            return false;
        }
    }
    if (image.entryRva >= image.sizeOfImage) {
        error = "entry point outside the image";
        return false;
    }
    return true;
}

} // namespace

std::optional<PeImage> ReadPeImage(const std::vector<std::uint8_t> &bytes, std::string &error)
{
    PeImage image;
    auto headers = ReadHeaders(bytes, image, error);
    if (!headers || !ReadSections(bytes, *headers, image, error) || !ReadDirectories(bytes, *headers, image, error))
        return std::nullopt;
    return image;
}

sim::Resources ResourcesOf(const PeImage &image)
{
    std::vector<sim::Resource> entries;
    for (const auto &r : image.resources)
        entries.push_back(r.resource);
    return sim::Resources(std::move(entries));
}

} // namespace ceimage
