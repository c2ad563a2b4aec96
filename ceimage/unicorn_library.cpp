// libunicorn through the dynamic loader.
#include "ceimage/unicorn_library.h"

#include "ceimage/run_image.h"

#include <dlfcn.h>

namespace ceimage {
namespace {

// The name the library is installed under (Debian's libunicorn2).
constexpr const char *kLibrary = "libunicorn.so.2";

template <typename Function> bool Find(void *library, const char *name, Function &to, std::string &error)
{
    to = reinterpret_cast<Function>(dlsym(library, name));
    if (!to)
        error = std::string(kLibrary) + " has no " + name;
    return to != nullptr;
}

struct Opened {
    Unicorn entries{};
    std::string error;
    bool ok = false;

    Opened()
    {
        void *library = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            const char *why = dlerror();
            error = why ? why : kLibrary;
            return;
        }
        // Kept open for the rest of the run.
        ok = Find(library, "uc_open", entries.open, error) && Find(library, "uc_close", entries.close, error) &&
             Find(library, "uc_ctl", entries.ctl, error) && Find(library, "uc_hook_add", entries.hookAdd, error) &&
             Find(library, "uc_emu_start", entries.emuStart, error) &&
             Find(library, "uc_emu_stop", entries.emuStop, error) &&
             Find(library, "uc_mem_map", entries.memMap, error) &&
             Find(library, "uc_mem_read", entries.memRead, error) &&
             Find(library, "uc_mem_write", entries.memWrite, error) &&
             Find(library, "uc_reg_read", entries.regRead, error) &&
             Find(library, "uc_reg_write", entries.regWrite, error) &&
             Find(library, "uc_strerror", entries.strerror, error);
    }
};

} // namespace

const Unicorn *OpenUnicorn(std::string &error)
{
    static const Opened opened;
    if (!opened.ok) {
        error = opened.error;
        return nullptr;
    }
    return &opened.entries;
}

bool EmulatorAvailable(std::string &why) { return OpenUnicorn(why) != nullptr; }

} // namespace ceimage
