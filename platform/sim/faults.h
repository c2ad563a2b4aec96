// Injected failures: make a named core-library operation fail with a chosen
// error, always or only for one key, value or resource name.
#ifndef SAMBREL_SIM_FAULTS_H
#define SAMBREL_SIM_FAULTS_H

#include "platform/sim/public/coredll_types.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// The core-library operations that can be made to fail: the failable rows
// of the table give their names to --fail, the help text and the tests.
// SIM_FAULT_##fails(x): x and a comma in a failable row, nothing in another.
#define SIM_FAULT_failable(...) __VA_ARGS__,
#define SIM_FAULT_infallible(...)
enum class Operation {
#define COREDLL_OPERATION(ordinal, name, fails, ...) SIM_FAULT_##fails(name)
#include "platform/coredll_operations.h"
};
const char *NameOf(Operation operation);
std::optional<Operation> OperationNamed(std::string_view name); // without case
const std::vector<Operation> &AllOperations();

struct Fault {
    Operation operation;
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
    const Fault *Find(Operation operation, std::u16string_view item = {}) const;

    // An error by name (ERROR_ACCESS_DENIED, or ACCESS_DENIED, without
    // case) or by number (decimal, or hexadecimal after 0x; 32 bits).
    static std::optional<LONG> ErrorFromName(std::string_view name);
    // Reads OPERATION[:NAME][=ERROR], as --fail gives it (operations named
    // without case, NAME not empty); nullopt with a one-line reason.
    static std::optional<Fault> Parse(const std::string &text, std::string &error);

private:
    std::vector<Fault> faults_;
};

} // namespace sim

#endif
