// What the cell keeps of its rules in this build; CMake chooses the file
// (build_plain.cpp, or build_sanitized.cpp for the sanitizers' build).
#ifndef SAMBREL_CELL_BUILD_H
#define SAMBREL_CELL_BUILD_H

namespace cell {

struct BuildRules {
    bool limitAddressSpace; // AddressSanitizer reserves terabytes of shadow
    bool limitFileSize;     // its reports go to standard error, a file or not
    // Whether the build's own checks make pipes of their own: the
    // UndefinedBehaviorSanitizer finds whether memory can be read by
    // writing it into one (pipe2, and write and close on descriptors above
    // the results').
    bool ownPipes;
};
extern const BuildRules kBuildRules;

// Runs just before the filter is installed, while files can still be
// opened.
void BeforeFilter();

} // namespace cell

#endif
