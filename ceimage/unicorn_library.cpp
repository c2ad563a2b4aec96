// libunicorn through the dynamic loader.
#include "ceimage/unicorn_library.h"

#include "dynamic/library.h"

namespace ceimage {

const Unicorn *OpenUnicorn(std::string &error)
{
    // The name the library is installed under (Debian's libunicorn2).
    static const dynamic::Loaded<Unicorn> unicorn("libunicorn.so.2", [](dynamic::Library &library, Unicorn &entries) {
#define SAMBREL_UNICORN_FIND(field, function) library.Find(#function, entries.field);
        SAMBREL_UNICORN_ENTRIES(SAMBREL_UNICORN_FIND)
#undef SAMBREL_UNICORN_FIND
    });
    return unicorn.Get(error);
}

} // namespace ceimage
