// What the cell keeps of its rules in this build; CMake chooses the file
// (build_plain.cpp, or build_sanitized.cpp for the sanitizers' build).
#ifndef SAMBREL_CELL_BUILD_H
#define SAMBREL_CELL_BUILD_H

namespace cell {

struct BuildRules {
    bool limitAddressSpace; // AddressSanitizer reserves terabytes of shadow
    bool limitFileSize;     // its reports go to standard error, a file or not
    // Whether the build's own checks and reports use files and pipes of
    // their own (the sanitizers': see build_sanitized.cpp).
    bool sanitizers;
};
extern const BuildRules kBuildRules;

} // namespace cell

#endif
