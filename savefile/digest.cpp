// What a file held, told from bytes read in pieces of any size.
#include "savefile/digest.h"

#include <algorithm>
#include <functional>

namespace savefile {

void Digest::Block(std::string_view block)
{
    sum_ = (sum_ ^ std::hash<std::string_view>()(block)) * 0x100000001b3u;
}

void Digest::Add(const char *bytes, size_t size)
{
    size_ += size;
    std::string_view in(bytes, size);
    if (!pending_.empty()) {
        size_t take = std::min(kDigestBlock - pending_.size(), in.size());
        pending_.append(in.substr(0, take));
        in.remove_prefix(take);
        if (pending_.size() < kDigestBlock)
            return;
        Block(pending_);
        pending_.clear();
    }
    for (; in.size() >= kDigestBlock; in.remove_prefix(kDigestBlock))
        Block(in.substr(0, kDigestBlock));
    pending_.assign(in);
}

bool Digest::operator==(const Digest &other) const
{
    return sum_ == other.sum_ && size_ == other.size_ && pending_ == other.pending_;
}

} // namespace savefile
