// A Microsoft cabinet held in memory, read by libmspack. The library is
// opened when the first cabinet is read, as libunicorn is when the first
// image runs: every other run goes without it. It reads only the bytes it
// is given (it is handed no file system), allocates at most
// kCabinetLibraryMemory, and writes a member only up to the bound given.
#ifndef SAMBREL_CEIMAGE_MSPACK_LIBRARY_H
#define SAMBREL_CEIMAGE_MSPACK_LIBRARY_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ceimage {

// What libmspack may hold at once while it reads a cabinet: its directory
// and one member's decompressor (LZX and Quantum windows take up to 2 MiB).
constexpr std::size_t kCabinetLibraryMemory = 8u << 20;

// Whether libmspack can be loaded; the reason when it cannot.
bool CabinetLibraryAvailable(std::string &why);

// A member as the cabinet's directory lists it.
struct CabinetMember {
    std::string name;
    std::uint32_t size = 0; // uncompressed, as declared
};

class Cabinet {
public:
    // The cabinet's directory; nullptr with the reason when the bytes are
    // not a cabinet libmspack reads or the library cannot be loaded.
    static std::unique_ptr<Cabinet> Open(const std::vector<std::uint8_t> &bytes, std::string &error);
    ~Cabinet();
    Cabinet(const Cabinet &) = delete;
    Cabinet &operator=(const Cabinet &) = delete;

    const std::vector<CabinetMember> &Members() const { return members_; }
    // A member's bytes; nullopt with the reason when its data is damaged or
    // it is larger than limit (then nothing is decompressed).
    std::optional<std::vector<std::uint8_t>> Read(std::size_t member, std::size_t limit, std::string &error);

    struct State;

private:
    explicit Cabinet(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
    std::vector<CabinetMember> members_;
};

} // namespace ceimage

#endif
