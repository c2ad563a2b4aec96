// The program's compiled resources (a .res image, as a resource compiler
// writes it) and the lookups FindResourceW and LoadResource make over them.
#ifndef SAMBREL_SIM_RESOURCES_H
#define SAMBREL_SIM_RESOURCES_H

#include "platform/sim/public/coredll_types.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// A resource type or name: a 16-bit ordinal or a string.
struct ResId {
    std::optional<WORD> ordinal;
    std::u16string name;

    static ResId From(LPCWSTR id);
    bool Matches(const ResId &other) const;
};

struct Resource {
    ResId type;
    ResId name;
    WORD language = 0;
    std::vector<BYTE> data;
};

class Resources {
public:
    Resources() = default;
    // Reads the entries of a .res image up to the first damaged one; what
    // follows a damaged header cannot be trusted and is not loaded.
    explicit Resources(const BYTE *image, size_t size);
    // Resources found elsewhere, such as in an executable image's .rsrc.
    explicit Resources(std::vector<Resource> entries) : entries_(std::move(entries)) {}

    const Resource *Find(const ResId &type, const ResId &name) const;
    // 1-based index, as the handle FindResourceW returns; 0 when absent.
    size_t IndexOf(const Resource *r) const;
    const Resource *At(size_t index) const;
    // The resource whose bytes contain [p, p + 1), if any.
    const Resource *Containing(const void *p) const;
    const std::vector<Resource> &All() const { return entries_; }

private:
    std::vector<Resource> entries_;
};

} // namespace sim

#endif
