// What a file held, told from bytes read in pieces of any size. Not
// cryptographic: it tells a change, not a forgery.
#ifndef SAMBREL_SAVEFILE_DIGEST_H
#define SAMBREL_SAVEFILE_DIGEST_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace savefile {

// Whole blocks are summed by the standard library's hash of bytes; a block
// split over two reads is put together first.
constexpr size_t kDigestBlock = 64 * 1024;

class Digest {
public:
    void Add(const char *bytes, size_t size);
    bool operator==(const Digest &other) const;

private:
    void Block(std::string_view block);
    std::uint64_t sum_ = 0;
    std::uint64_t size_ = 0;
    std::string pending_; // less than a block
};

} // namespace savefile

#endif
