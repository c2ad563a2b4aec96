// A Microsoft cabinet taken apart into what the cabinet fuzzer changes (the
// header's fields, the folders and their data blocks, the files) and put
// together again with every offset, count and size mended and each data
// block's checksum computed, as the format's public description gives
// them. Only cabinets of one piece are taken apart: no reserved areas, no
// previous or next cabinet.
#ifndef SAMBREL_FUZZ_CABINET_LAYOUT_H
#define SAMBREL_FUZZ_CABINET_LAYOUT_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fuzz {

using Bytes = std::vector<std::uint8_t>;

// The compression methods, the low bits of a folder's typeCompress; LZX and
// Quantum keep their window's bits above them.
enum Method : std::uint16_t { kNone = 0, kMszip = 1, kQuantum = 2, kLzx = 3, kMethodMask = 15 };

// A data block's checksum: its data, then its two sizes, folded into 32 bits.
std::uint32_t BlockChecksum(const Bytes &data, std::uint16_t uncompressed);

struct CabinetLayout {
    struct Block {
        Bytes data;
        std::uint16_t uncompressed = 0;
    };
    struct Folder {
        std::uint16_t method = kNone;
        std::vector<Block> blocks;
    };
    struct File {
        std::uint32_t size = 0, offset = 0; // in its folder, uncompressed
        std::uint16_t folder = 0, date = 0, time = 0, attributes = 0;
        std::string name;
    };
    enum class Checksums { Right, None, Wrong };

    std::uint32_t reserved[3] = {};
    std::uint8_t minor = 3, major = 1;
    std::uint16_t setId = 0, index = 0;
    std::vector<Folder> folders;
    std::vector<File> files;

    static std::optional<CabinetLayout> Parse(const std::uint8_t *data, std::size_t size);
    Bytes Put(Checksums checksums = Checksums::Right) const;

    // An uncompressed folder's bytes, and new ones cut into blocks of 32 KiB.
    Bytes Plain(std::size_t folder) const;
    void SetPlain(std::size_t folder, const Bytes &plain);

    // The setup file's member (the one whose name ends in .000), or -1; and
    // its folder's method (kNone to kLzx), kLzx + 1 for any other or none.
    int SetupFile() const;
    std::size_t SetupMethod() const;
};

} // namespace fuzz

#endif
