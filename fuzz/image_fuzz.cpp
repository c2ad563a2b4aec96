// libFuzzer target for the CE image reader: no input may crash it or draw
// a sanitizer report, what it gives the loader lies inside the image, and
// what it keeps grows with the input, never faster: every section, table,
// resource and name is read from its own bytes of the file.
#include "ceimage/pe_image.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<std::uint8_t> bytes(data, data + size);
    std::string error;
    std::optional<ceimage::PeImage> image = ceimage::ReadPeImage(bytes, error);
    if (!image) {
        if (error.empty())
            abort(); // a refusal says why
        return 0;
    }

    // Where the loader writes: sections, relocations and import slots.
    std::uint64_t sections = 0;
    for (const auto &s : image->sections) {
        if (std::uint64_t{s.rva} + s.data.size() > image->sizeOfImage)
            abort();
        sections += s.data.size();
    }
    for (std::uint32_t r : image->relocations)
        if (r > image->sizeOfImage - 4)
            abort();
    for (const auto &i : image->imports)
        if (i.slotRva > image->sizeOfImage - 4)
            abort();
    if (image->entryRva >= image->sizeOfImage)
        abort();

    // What it keeps, against the file's size.
    std::uint64_t resourceData = 0, names = 0;
    for (const auto &r : image->resources) {
        resourceData += r.resource.data.size();
        names += 2 * (r.resource.type.name.size() + r.resource.name.name.size());
    }
    if (sections > size || resourceData > size || names > size || image->relocations.size() > size / 2 ||
        image->imports.size() > size / 4)
        abort();

    // The handheld's resource calls over them.
    sim::Resources resources = ceimage::ResourcesOf(*image);
    for (const auto &r : resources.All()) {
        const sim::Resource *found = resources.Find(r.type, r.name);
        if (!found || !resources.IndexOf(found))
            abort();
    }
    return 0;
}
