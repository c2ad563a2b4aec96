// Injected failures and the error names they are given by.
#include "platform/sim/faults.h"

#include "text/ascii.h"
#include "text/codecs.h"
#include "registry/names.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace sim {
namespace {

struct ErrorName {
    const char *name;
    LONG code;
};

const ErrorName kErrors[] = {
    {"ERROR_SUCCESS", ERROR_SUCCESS},
    {"ERROR_FILE_NOT_FOUND", ERROR_FILE_NOT_FOUND},
    {"ERROR_ACCESS_DENIED", ERROR_ACCESS_DENIED},
    {"ERROR_INVALID_HANDLE", ERROR_INVALID_HANDLE},
    {"ERROR_NOT_ENOUGH_MEMORY", ERROR_NOT_ENOUGH_MEMORY},
    {"ERROR_OUTOFMEMORY", ERROR_OUTOFMEMORY},
    {"ERROR_WRITE_PROTECT", ERROR_WRITE_PROTECT},
    {"ERROR_GEN_FAILURE", ERROR_GEN_FAILURE},
    {"ERROR_INVALID_PARAMETER", ERROR_INVALID_PARAMETER},
    {"ERROR_BAD_PATHNAME", ERROR_BAD_PATHNAME},
    {"ERROR_MORE_DATA", ERROR_MORE_DATA},
    {"ERROR_NO_MORE_ITEMS", ERROR_NO_MORE_ITEMS},
    {"ERROR_BADDB", ERROR_BADDB},
    {"ERROR_BADKEY", ERROR_BADKEY},
    {"ERROR_CANTOPEN", ERROR_CANTOPEN},
    {"ERROR_CANTREAD", ERROR_CANTREAD},
    {"ERROR_CANTWRITE", ERROR_CANTWRITE},
    {"ERROR_KEY_DELETED", ERROR_KEY_DELETED},
    {"ERROR_CANCELLED", ERROR_CANCELLED},
    {"ERROR_RESOURCE_DATA_NOT_FOUND", ERROR_RESOURCE_DATA_NOT_FOUND},
    {"ERROR_RESOURCE_TYPE_NOT_FOUND", ERROR_RESOURCE_TYPE_NOT_FOUND},
    {"ERROR_RESOURCE_NAME_NOT_FOUND", ERROR_RESOURCE_NAME_NOT_FOUND},
};

// The digits of an error given as a number, decimal or hexadecimal after
// 0x (as Win32's headers write codes such as 0x80070005), with its base;
// empty for anything else.
std::string_view NumberDigits(std::string_view name, unsigned &base)
{
    base = 10;
    if (name.size() > 2 && name[0] == '0' && (name[1] == 'x' || name[1] == 'X')) {
        base = 16;
        name.remove_prefix(2);
    }
    bool digits = std::all_of(name.begin(), name.end(), [base](char c) {
        return base == 16 ? std::isxdigit(static_cast<unsigned char>(c)) != 0 : c >= '0' && c <= '9';
    });
    return digits ? name : std::string_view();
}

} // namespace

void Faults::Add(Fault fault) { faults_.push_back(std::move(fault)); }

const Fault *Faults::Find(Operation operation, std::u16string_view item) const
{
    for (const auto &f : faults_) {
        if (f.operation != operation)
            continue;
        if (f.item && !registry::EqualNoCase(*f.item, item))
            continue;
        return &f;
    }
    return nullptr;
}

namespace {

// The failable operations' names, in the order of their enum.
const char *const kOperationNames[] = {
#define COREDLL_OPERATION(ordinal, name, fails, ...) SIM_FAULT_##fails(#name)
#include "platform/coredll_operations.h"
};
constexpr size_t kOperationCount = sizeof kOperationNames / sizeof kOperationNames[0];

} // namespace

const char *NameOf(Operation operation)
{
    auto i = static_cast<size_t>(operation);
    return i < kOperationCount ? kOperationNames[i] : "?";
}

std::optional<Operation> OperationNamed(std::string_view name)
{
    // Without case, as error names are matched.
    std::string upper = text::AsciiFolded(name, text::AsciiCase::Upper);
    for (size_t i = 0; i < kOperationCount; ++i)
        if (upper == text::AsciiFolded(kOperationNames[i], text::AsciiCase::Upper))
            return static_cast<Operation>(i);
    return std::nullopt;
}

const std::vector<Operation> &AllOperations()
{
    static const std::vector<Operation> all = [] {
        std::vector<Operation> v;
        for (size_t i = 0; i < kOperationCount; ++i)
            v.push_back(static_cast<Operation>(i));
        return v;
    }();
    return all;
}

std::optional<Fault> Faults::Parse(const std::string &text, std::string &error)
{
    std::string rest = text;
    LONG code = ERROR_ACCESS_DENIED;
    size_t eq = rest.find('=');
    if (eq != std::string::npos) {
        std::string name = rest.substr(eq + 1);
        auto found = ErrorFromName(name);
        unsigned base;
        bool number = !NumberDigits(name, base).empty();
        if (!found) {
            error = (number ? "error number '" + name + "' out of range (32 bits) in --fail "
                            : "unknown error '" + name + "' in --fail ") + text;
            return std::nullopt;
        }
        if (*found == ERROR_SUCCESS) {
            error = "--fail " + text + ": ERROR_SUCCESS (0) is not a failure";
            return std::nullopt;
        }
        code = *found;
        rest.resize(eq);
    }
    std::optional<std::u16string> item;
    size_t colon = rest.find(':');
    if (colon != std::string::npos) {
        // An empty NAME would match only calls without one (a key's
        // default value): never what a ':' left at the end meant.
        if (colon + 1 == rest.size()) {
            error = "--fail " + text + ": empty NAME after ':' (leave out ':' to fail for every name)";
            return std::nullopt;
        }
        item = text::U16(rest.substr(colon + 1));
        rest.resize(colon);
    }
    auto operation = OperationNamed(rest);
    if (!operation) {
        error = "unknown operation '" + rest + "' in --fail " + text;
        return std::nullopt;
    }
    return Fault{*operation, item, code, std::nullopt};
}

std::optional<LONG> Faults::ErrorFromName(std::string_view name)
{
    if (name.empty())
        return std::nullopt;
    unsigned base;
    if (std::string_view digits = NumberDigits(name, base); !digits.empty()) {
        // Any number of leading zeros; at most 32 bits, as the handheld's
        // error codes are (above 2^31 they read as negative LONGs).
        unsigned long long v = 0;
        for (char c : text::AsciiFolded(digits, text::AsciiCase::Upper)) {
            unsigned digit = static_cast<unsigned>(c <= '9' ? c - '0' : c - 'A' + 10);
            v = v * base + digit;
            if (v > 0xFFFFFFFFull)
                return std::nullopt;
        }
        return static_cast<LONG>(static_cast<DWORD>(v));
    }
    std::string upper = text::AsciiFolded(name, text::AsciiCase::Upper);
    for (const auto &e : kErrors)
        if (upper == e.name || "ERROR_" + upper == e.name)
            return e.code;
    return std::nullopt;
}

} // namespace sim
