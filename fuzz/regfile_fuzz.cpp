// libFuzzer target for the registry file loader: no input may crash it or
// draw a sanitizer report, every input loads read in small pieces as it
// does whole (or fails the same way), every input that loads is a fixed
// point of load, save, load, and saves in small blocks as it does whole.
#include "fuzz/same_tree.h"
#include "regfile/regfile.h"
#include "tests/pieces.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string_view input(reinterpret_cast<const char *>(data), size);
    regfile::Loaded first;
    auto fault = regfile::Load(input, first);

    // The piece size comes from the input, so that the fuzzer moves the
    // window's edges around.
    pieces::Source source(input, 1 + (size ? data[size / 2] % 13 : 0));
    regfile::Loaded inPieces;
    auto pieceFault = regfile::Load(source, inPieces);
    bool oddSize = size % 2 && size >= 2 && data[0] == 0xFF && data[1] == 0xFE; // known only from a size
    if (!oddSize && (fault.has_value() != pieceFault.has_value() ||
                     (fault && (fault->line != pieceFault->line || fault->message != pieceFault->message))))
        abort();
    if (fault)
        return 0;

    std::string saved, error;
    if (!regfile::Save(first.registry, first.format, saved, error))
        abort(); // what was read can always be written back
    std::string savedInPieces;
    if (!regfile::Save(inPieces.registry, inPieces.format, savedInPieces, error) || savedInPieces != saved)
        abort();
    pieces::Sink blocks;
    if (!regfile::Save(first.registry, first.format, blocks, error, 1 + (size ? data[size / 3] % 13 : 0)) ||
        blocks.bytes != saved)
        abort();
    regfile::Loaded second;
    if (regfile::Load(saved, second))
        abort();
    if (!fuzz::SameTree(first.registry, second.registry))
        abort();
    std::string again;
    if (!regfile::Save(second.registry, second.format, again, error) || again != saved)
        abort();
    return 0;
}
