// Libraries through the dynamic loader.
#include "ceimage/dynamic_library.h"

#include <dlfcn.h>

namespace ceimage {

DynamicLibrary::DynamicLibrary(const char *name) : name_(name)
{
    handle_ = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char *why = dlerror();
        error_ = why ? why : name;
    }
}

void DynamicLibrary::Refuse(std::string why)
{
    if (Ok())
        error_ = std::move(why);
}

void *DynamicLibrary::Symbol(const char *symbol)
{
    if (!Ok())
        return nullptr;
    void *address = dlsym(handle_, symbol);
    if (!address)
        Refuse(std::string(name_) + " has no " + symbol);
    return address;
}

} // namespace ceimage
