#include "fuzz/cabinet_depth.h"

namespace fuzz {
namespace {

const char *const kStageNames[kStageCount] = {
    "stopped before the data (directory, block sizes, bounds)", "stopped at a data block's checksum",
    "refused by the decompressor or ran out of data", "refused by the setup file's reader",
    "refused after the setup file was read", "gave the program"};
const char *const kMethodNames[DepthTally::kMethods] = {"none", "MSZIP", "Quantum", "LZX", "another method or no folder",
                                                        "not taken apart"};

// The reasons that tell their stage themselves, in the words of
// ceimage/cab_installer.cpp and ceimage/mspack_library.cpp.
const struct {
    const char *words;
    Stage stage;
} kReasons[] = {
    {"checksum is wrong", kChecksum},
    {"a member may have", kBefore},
    {"reaching it would decompress more", kBefore},
    {"reading it would take more than", kBefore},
    {"the setup file is damaged", kSetupReader},
    {"the cabinet is for processor", kAfterSetup},
    {"the cabinet makes registry entries", kAfterSetup},
    {"the cabinet installs", kAfterSetup},
    {"the cabinet's shortcuts", kAfterSetup},
    {"the program ", kAfterSetup},
};

bool Decompressed(const CabinetLayout::Folder &folder)
{
    if ((folder.method & kMethodMask) > kLzx)
        return false;
    for (const auto &b : folder.blocks)
        if (b.data.size() > 38912 || b.uncompressed > 32768) // libmspack's bounds on a block
            return false;
    return true;
}

} // namespace

Stage StageOf(const std::string &error, const std::optional<CabinetLayout> &cab)
{
    if (error.empty())
        return kRead;
    for (const auto &reason : kReasons)
        if (error.find(reason.words) != std::string::npos)
            return reason.stage;
    if (!cab)
        return kBefore;
    int setup = cab->SetupFile();
    for (std::size_t i = 0; i < cab->files.size(); ++i) {
        const auto &f = cab->files[i];
        if (f.name.empty() || error.rfind(f.name + ": ", 0) != 0)
            continue;
        if (static_cast<int>(i) != setup)
            return kAfterSetup;
        return f.folder < cab->folders.size() && Decompressed(cab->folders[f.folder]) ? kDecompressor : kBefore;
    }
    return kBefore;
}

void DepthTally::Print(std::FILE *out) const
{
    for (std::size_t m = 0; m < kMethods; ++m) {
        std::uint64_t all = 0, reached = 0;
        std::string stages;
        for (std::size_t s = 0; s < kStageCount; ++s) {
            all += counts_[m][s];
            reached += s >= kDecompressor ? counts_[m][s] : 0;
            stages += (s ? ", " : "") + std::to_string(counts_[m][s]) + " " + kStageNames[s];
        }
        if (all)
            std::fprintf(out, "cabinet depth: %s: %llu inputs, %llu reached the decompressor: %s\n", kMethodNames[m],
                         static_cast<unsigned long long>(all), static_cast<unsigned long long>(reached),
                         stages.c_str());
    }
}

} // namespace fuzz
