// libunicorn, opened when the first emulated processor is made rather than
// when sambrel starts: only runs of a CE image need it, and it is most of
// what every other run would load (about 3 ms and 5 MiB of each run).
#ifndef SAMBREL_CEIMAGE_UNICORN_LIBRARY_H
#define SAMBREL_CEIMAGE_UNICORN_LIBRARY_H

#include <unicorn/unicorn.h>

#include <string>

namespace ceimage {

// The library's entry points that the emulated processor uses: each
// field, and the function it is.
#define SAMBREL_UNICORN_ENTRIES(X)                                                                                 \
    X(open, uc_open) X(close, uc_close) X(ctl, uc_ctl) X(hookAdd, uc_hook_add) X(emuStart, uc_emu_start)            \
    X(emuStop, uc_emu_stop) X(memMap, uc_mem_map) X(memRead, uc_mem_read) X(memWrite, uc_mem_write)                \
    X(regRead, uc_reg_read) X(regWrite, uc_reg_write) X(strerror, uc_strerror)

struct Unicorn {
#define SAMBREL_UNICORN_FIELD(field, function) decltype(&::function) field;
    SAMBREL_UNICORN_ENTRIES(SAMBREL_UNICORN_FIELD)
#undef SAMBREL_UNICORN_FIELD
};

// The library, opened once; nullptr, with the reason, when it cannot be.
const Unicorn *OpenUnicorn(std::string &error);

} // namespace ceimage

#endif
