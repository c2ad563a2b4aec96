// How far a cabinet went through the installation cabinet's reader, told by
// the reason the reader gave and by the cabinet's layout: a reason about a
// member means that libmspack opened the cabinet and began to read that
// member's folder, and its decompressor got the data once the folder's
// method is one libmspack has and its blocks' sizes are within its bounds.
// Counted for each method of the setup file's folder, it tells how many of
// a fuzzer's inputs reached each decompressor.
#ifndef SAMBREL_FUZZ_CABINET_DEPTH_H
#define SAMBREL_FUZZ_CABINET_DEPTH_H

#include "fuzz/cabinet_layout.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace fuzz {

enum Stage { kBefore, kChecksum, kDecompressor, kSetupReader, kAfterSetup, kRead, kStageCount };

// The stage of an input whose reader gave error (empty: the program).
Stage StageOf(const std::string &error, const std::optional<CabinetLayout> &cab);

class DepthTally {
public:
    // The methods (kNone to kLzx), another one or no folder for the setup
    // file, and inputs not taken apart.
    static constexpr std::size_t kMethods = kLzx + 3;

    void Count(std::size_t method, Stage stage) { ++counts_[method][stage]; }
    // A line per method: its inputs, how many reached a decompressor, and
    // how many stopped at each stage.
    void Print(std::FILE *out) const;

private:
    std::uint64_t counts_[kMethods][kStageCount] = {};
};

} // namespace fuzz

#endif
