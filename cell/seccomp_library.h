// libseccomp, opened when the first cell is made rather than when sambrel
// starts, as libunicorn is: only --image needs it, and a system without it
// is told so (the image does not then run unconfined).
#ifndef SAMBREL_CELL_SECCOMP_LIBRARY_H
#define SAMBREL_CELL_SECCOMP_LIBRARY_H

#include <seccomp.h>

#include <string>

namespace cell {

struct Seccomp {
    decltype(&::seccomp_init) init;
    decltype(&::seccomp_attr_set) attrSet;
    decltype(&::seccomp_rule_add_array) ruleAdd;
    decltype(&::seccomp_load) load;
    decltype(&::seccomp_release) release;
    decltype(&::seccomp_syscall_resolve_num_arch) nameOf;
};

// The library, opened once; nullptr, with the reason, when it cannot be.
const Seccomp *OpenSeccomp(std::string &error);

} // namespace cell

#endif
