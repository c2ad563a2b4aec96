// The default handheld, read from its registry file by the same loader as
// any other.
#include "cli/default_handheld.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace cli {

extern const unsigned char kDefaultHandheld[];
extern const std::size_t kDefaultHandheldSize;

regfile::Loaded DefaultHandheld()
{
    regfile::Loaded loaded;
    std::string_view text(reinterpret_cast<const char *>(kDefaultHandheld), kDefaultHandheldSize);
    if (auto error = regfile::Load(text, loaded)) {
        std::fprintf(stderr, "sambrel: default_handheld.reg:%zu: %s\n", error->line, error->message.c_str());
        std::abort();
    }
    return loaded;
}

} // namespace cli
