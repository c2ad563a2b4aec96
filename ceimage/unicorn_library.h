// libunicorn, opened when the first emulated processor is made rather than
// when sambrel starts: only runs of a CE image need it, and it is most of
// what every other run would load (about 3 ms and 5 MiB of each run).
#ifndef SAMBREL_CEIMAGE_UNICORN_LIBRARY_H
#define SAMBREL_CEIMAGE_UNICORN_LIBRARY_H

#include <unicorn/unicorn.h>

#include <string>

namespace ceimage {

// The library's entry points that the emulated processor uses.
struct Unicorn {
    decltype(&::uc_open) open;
    decltype(&::uc_close) close;
    decltype(&::uc_ctl) ctl;
    decltype(&::uc_hook_add) hookAdd;
    decltype(&::uc_emu_start) emuStart;
    decltype(&::uc_emu_stop) emuStop;
    decltype(&::uc_mem_map) memMap;
    decltype(&::uc_mem_read) memRead;
    decltype(&::uc_mem_write) memWrite;
    decltype(&::uc_reg_read) regRead;
    decltype(&::uc_reg_write) regWrite;
    decltype(&::uc_strerror) strerror;
};

// The library, opened once; nullptr, with the reason, when it cannot be.
const Unicorn *OpenUnicorn(std::string &error);

} // namespace ceimage

#endif
