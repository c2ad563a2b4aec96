// Bytes read in pieces and written in blocks, as the registry files' tests
// and the loader's fuzz target hand them over.
#ifndef SAMBREL_TESTS_PIECES_H
#define SAMBREL_TESTS_PIECES_H

#include "bytes/source_sink.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace pieces {

// Bytes handed over a few at a time, as a slow disk or a pipe might, with
// their size unknown (or told, as a file's is); or failing after some of
// them.
class Source : public bytes::Source {
public:
    Source(std::string_view bytes, size_t piece, size_t failAfter = SIZE_MAX, bool sized = false)
        : bytes_(bytes), piece_(piece), failAfter_(failAfter), sized_(sized)
    {
    }
    size_t Size() const override { return sized_ ? bytes_.size() : 0; }
    bool Read(char *to, size_t capacity, size_t &got, std::string &error) override
    {
        if (at_ >= failAfter_) {
            error = "Input/output error";
            return false;
        }
        got = std::min({capacity, piece_, bytes_.size() - at_});
        std::memcpy(to, bytes_.data() + at_, got);
        at_ += got;
        return true;
    }

private:
    std::string_view bytes_;
    size_t piece_, failAfter_, at_ = 0;
    bool sized_;
};

// A save's blocks, gathered with their sizes; failing at one of them.
class Sink : public bytes::Sink {
public:
    explicit Sink(size_t failAt = SIZE_MAX) : failAt_(failAt) {}
    bool Write(std::string_view block, std::string &error) override
    {
        if (sizes.size() == failAt_) {
            ++refused;
            error = "No space left on device";
            return false;
        }
        sizes.push_back(block.size());
        bytes += block;
        return true;
    }
    std::string bytes;
    std::vector<size_t> sizes;
    int refused = 0;

private:
    size_t failAt_;
};

} // namespace pieces

#endif
