// Injected failures: make a named core-library operation fail with a chosen
// error, always or only for one key, value or resource name.
#ifndef SAMBREL_SIM_FAULTS_H
#define SAMBREL_SIM_FAULTS_H

#include "coredll_types.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct Fault {
    std::string operation;             // e.g. "RegSetValueExW"
    std::optional<std::u16string> item; // key path, value or resource name
    LONG error = ERROR_ACCESS_DENIED;
    // The thread's last-error code afterwards, when it is to differ from
    // the result (as a real library's may).
    std::optional<DWORD> lastError;
};

class Faults {
public:
    void Add(Fault fault);
    bool Empty() const { return faults_.empty(); }
    // The error the operation is to fail with for this item, if any.
    std::optional<LONG> Check(std::string_view operation, std::u16string_view item = {}) const;
    const Fault *Find(std::string_view operation, std::u16string_view item = {}) const;

    // The operations that can be made to fail.
    static const std::vector<std::string> &Operations();
    static bool IsOperation(std::string_view name);
    // An error by name (ERROR_ACCESS_DENIED, or ACCESS_DENIED) or by number.
    static std::optional<LONG> ErrorFromName(std::string_view name);

private:
    std::vector<Fault> faults_;
};

} // namespace sim

#endif
