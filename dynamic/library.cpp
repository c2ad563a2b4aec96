// Libraries through the dynamic loader.
#include "dynamic/library.h"

#include <dlfcn.h>

namespace dynamic {

Library::Library(const char *name) : name_(name)
{
    handle_ = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char *why = dlerror();
        error_ = why ? why : name;
    }
}

void Library::Refuse(std::string why)
{
    if (Ok())
        error_ = std::move(why);
}

void *Library::Symbol(const char *symbol)
{
    if (!Ok())
        return nullptr;
    void *address = dlsym(handle_, symbol);
    if (!address)
        Refuse(std::string(name_) + " has no " + symbol);
    return address;
}

} // namespace dynamic
