// libseccomp through the dynamic loader.
#include "cell/seccomp_library.h"

#include "dynamic/library.h"

namespace cell {

const Seccomp *OpenSeccomp(std::string &error)
{
    // The name the library is installed under (Debian's libseccomp2).
    static const dynamic::Loaded<Seccomp> seccomp("libseccomp.so.2", [](dynamic::Library &library,
                                                                         Seccomp &entries) {
        library.Find("seccomp_init", entries.init);
        library.Find("seccomp_attr_set", entries.attrSet);
        library.Find("seccomp_rule_add_array", entries.ruleAdd);
        library.Find("seccomp_load", entries.load);
        library.Find("seccomp_release", entries.release);
        library.Find("seccomp_syscall_resolve_num_arch", entries.nameOf);
    });
    return seccomp.Get(error);
}

} // namespace cell
