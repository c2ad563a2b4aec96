// libFuzzer target for the installation cabinet's reader: no input may
// crash it, draw a sanitizer report or exceed its bounds; it gives either
// the program's bytes or a reason, never both.
//
// Its mutator knows the cabinet's layout. Changed byte by byte, nearly
// every cabinet stops at libmspack's checks: a data block's checksum, its
// sizes, the directory's offsets. So a cabinet that can be taken apart is
// changed where it counts (a field of its setup file, the data of a
// folder, a field of its directory) and put together again with its sizes,
// offsets and checksums mended (cabinet_layout.h), and the change reaches
// the setup file's reader and the decompressors (MSZIP, LZX, Quantum). One
// mutant in eight is still changed byte by byte, and one in sixteen gets a
// wrong or no checksum, so that the checks themselves stay tried.
//
// With CABINET_FUZZ_DEPTH set, the run ends by saying how far its inputs
// went, for each compression method of the setup file's folder
// (cabinet_depth.h).
#include "ceimage/cab_installer.h"
#include "fuzz/cabinet_depth.h"
#include "fuzz/cabinet_layout.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t *data, std::size_t size, std::size_t maxSize);

namespace {

using fuzz::Bytes;
using fuzz::CabinetLayout;
using Random = std::minstd_rand;

constexpr std::size_t kSetupHeaderSize = 100;

std::uint32_t Pick(Random &r, std::size_t n) { return n ? static_cast<std::uint32_t>(r() % n) : 0; }

// A value worth trying in place of v in a field of that many bytes.
std::uint32_t Interesting(Random &r, std::uint32_t v, int bytes, std::uint32_t size)
{
    const std::uint32_t top = bytes == 4 ? 0xFFFFFFFFu : (1u << (8 * bytes)) - 1;
    const std::uint32_t values[] = {0, 1, 2, 4, v - 1, v + 1, v * 2, v / 2, size, size - 1, size + 1,
                                    top, top / 2 + 1, 259, 260, 999, 1000, static_cast<std::uint32_t>(r())};
    return values[Pick(r, std::size(values))] & top;
}

void Store(Bytes &b, std::size_t at, std::uint32_t v, int bytes)
{
    for (std::size_t i = 0; i < static_cast<std::size_t>(bytes) && at + i < b.size(); ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t Load(const Bytes &b, std::size_t at, int bytes)
{
    std::uint32_t v = 0;
    for (std::size_t i = static_cast<std::size_t>(bytes); i-- > 0;)
        v = v << 8 | (at + i < b.size() ? b[at + i] : 0);
    return v;
}

// A field of the setup file: one of its header's, a word in one of its
// sections (strings, folders, files, registry hives and keys, links: all
// made of 16-bit numbers), or its bytes changed any way. Its own length
// then follows its size, unless that was the field changed.
void ChangeSetupFile(Random &r, Bytes &setup)
{
    const auto size = static_cast<std::uint32_t>(setup.size());
    bool lengthChanged = false;
    switch (Pick(r, 3)) {
    case 0: {
        // Signature to the system versions: dwords; the six counts: words;
        // the six section offsets: dwords; the three texts: words.
        std::size_t at = Pick(r, 30);
        int bytes = at < 12 ? 4 : at < 18 ? 2 : at < 24 ? 4 : 2;
        std::size_t offset = at < 12   ? 4 * at
                             : at < 18 ? 48 + 2 * (at - 12)
                             : at < 24 ? 60 + 4 * (at - 18)
                                       : 84 + 2 * (at - 24);
        Store(setup, offset, Interesting(r, Load(setup, offset, bytes), bytes, size), bytes);
        lengthChanged = offset == 8;
        break;
    }
    case 1: {
        std::uint32_t section = Load(setup, 60 + 4 * Pick(r, 6), 4);
        if (section >= size)
            return;
        std::size_t at = section + 2 * Pick(r, (size - section) / 2);
        Store(setup, at, Interesting(r, Load(setup, at, 2), 2, size), 2);
        break;
    }
    default:
        setup.resize(std::max<std::size_t>(setup.size() * 2, kSetupHeaderSize));
        setup.resize(LLVMFuzzerMutate(setup.data(), size, setup.size()));
    }
    if (!lengthChanged && Pick(r, 16))
        Store(setup, 8, static_cast<std::uint32_t>(setup.size()), 4);
}

// The setup file changed where it lies whole in an uncompressed folder,
// and what follows it in the folder moved.
bool MutateSetupFile(Random &r, CabinetLayout &cab)
{
    int member = cab.SetupFile();
    if (member < 0 || cab.SetupMethod() != fuzz::kNone)
        return false;
    auto &file = cab.files[static_cast<std::size_t>(member)];
    Bytes plain = cab.Plain(file.folder);
    if (std::uint64_t{file.offset} + file.size > plain.size())
        return false;
    Bytes setup(plain.begin() + file.offset, plain.begin() + file.offset + file.size);
    ChangeSetupFile(r, setup);
    const auto grown = static_cast<std::int64_t>(setup.size()) - file.size;
    plain.erase(plain.begin() + file.offset, plain.begin() + file.offset + file.size);
    plain.insert(plain.begin() + file.offset, setup.begin(), setup.end());
    for (auto &other : cab.files)
        if (other.folder == file.folder && other.offset > file.offset)
            other.offset = static_cast<std::uint32_t>(other.offset + grown);
    file.size = static_cast<std::uint32_t>(setup.size());
    cab.SetPlain(file.folder, plain);
    return true;
}

// A data block's bytes changed any way: compressed data for the
// decompressor, or a member's own bytes in an uncompressed folder.
bool MutateFolderData(Random &r, CabinetLayout &cab)
{
    if (cab.folders.empty())
        return false;
    auto &folder = cab.folders[Pick(r, cab.folders.size())];
    if (folder.blocks.empty())
        return false;
    auto &block = folder.blocks[Pick(r, folder.blocks.size())];
    const std::size_t size = block.data.size();
    block.data.resize(std::max(size, std::min<std::size_t>(size * 2 + 64, 38912))); // libmspack reads up to 38912
    block.data.resize(LLVMFuzzerMutate(block.data.data(), size, block.data.size()));
    if ((folder.method & fuzz::kMethodMask) == fuzz::kNone)
        block.uncompressed = static_cast<std::uint16_t>(block.data.size());
    return true;
}

// A field of the directory: a folder's method (and window), a block's
// uncompressed size, a file's size, offset, folder or name.
bool MutateDirectory(Random &r, CabinetLayout &cab)
{
    if (cab.folders.empty() || cab.files.empty())
        return false;
    auto &folder = cab.folders[Pick(r, cab.folders.size())];
    auto &file = cab.files[Pick(r, cab.files.size())];
    switch (Pick(r, 5)) {
    case 0: {
        // Windows of 2^9 to 2^22 bytes: Quantum has 2^10 to 2^21, LZX 2^15 to 2^21.
        const auto window = static_cast<std::uint16_t>((9 + Pick(r, 14)) << 8);
        const std::uint16_t methods[] = {fuzz::kNone, fuzz::kMszip, static_cast<std::uint16_t>(fuzz::kQuantum | window),
                                         static_cast<std::uint16_t>(fuzz::kLzx | window), static_cast<std::uint16_t>(r())};
        folder.method = methods[Pick(r, std::size(methods))];
        break;
    }
    case 1: {
        if (folder.blocks.empty())
            return false;
        auto &block = folder.blocks[Pick(r, folder.blocks.size())];
        block.uncompressed = static_cast<std::uint16_t>(Interesting(r, block.uncompressed, 2, 32768));
        break;
    }
    case 2: file.size = Interesting(r, file.size, 4, file.size); break;
    case 3: file.offset = Interesting(r, file.offset, 4, file.size); break;
    default: {
        const std::string numbers[] = {".000", ".001", ".002", ".999", ".exe", ""};
        file.name = file.name.substr(0, file.name.rfind('.')) + numbers[Pick(r, std::size(numbers))];
    }
    }
    return true;
}

// libmspack is not instrumented: libFuzzer cannot tell that a mutant of a
// compressed folder reached anything new, and keeps few of them. So the
// mutator keeps, for each method, the last input whose data reached its
// decompressor, and makes a quarter of its mutants from one of those (and
// half of those of an input that cannot reach one: one that cannot be
// taken apart, most of them raw mutants stopped at the directory, or whose
// setup file lies in a folder of a method libmspack does not have).
Bytes reached[fuzz::kLzx + 1];
fuzz::DepthTally tally;
const bool tallied = std::getenv("CABINET_FUZZ_DEPTH") != nullptr;

std::optional<CabinetLayout> Chosen(Random &r, const std::uint8_t *data, std::size_t size)
{
    auto cab = CabinetLayout::Parse(data, size);
    if (Pick(r, cab && cab->SetupMethod() <= fuzz::kLzx ? 4 : 2) == 0) {
        const Bytes &other = reached[Pick(r, std::size(reached))];
        if (auto taken = CabinetLayout::Parse(other.data(), other.size()))
            return taken;
    }
    return cab;
}

} // namespace

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t *data, std::size_t size, std::size_t maxSize,
                                               unsigned int seed)
{
    Random r(seed);
    auto cab = Chosen(r, data, size);
    if (!cab || Pick(r, 8) == 0)
        return LLVMFuzzerMutate(data, size, maxSize);
    bool changed = false;
    switch (Pick(r, 8)) {
    case 0: case 1: case 2: case 3: changed = MutateSetupFile(r, *cab); break;
    case 4: case 5: case 6: changed = MutateFolderData(r, *cab); break;
    default: changed = MutateDirectory(r, *cab);
    }
    if (!changed && !MutateFolderData(r, *cab))
        return LLVMFuzzerMutate(data, size, maxSize);
    const CabinetLayout::Checksums checksums[] = {CabinetLayout::Checksums::None, CabinetLayout::Checksums::Wrong};
    Bytes out = cab->Put(Pick(r, 16) ? CabinetLayout::Checksums::Right : checksums[Pick(r, 2)]);
    if (out.size() > maxSize)
        return LLVMFuzzerMutate(data, size, maxSize);
    std::memcpy(data, out.data(), out.size());
    return out.size();
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    if (tallied)
        std::atexit([] { tally.Print(stderr); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::vector<std::uint8_t> bytes(data, data + size);
    ceimage::CabinetProgram program = ceimage::ProgramInCabinet(bytes);
    if (program.error.empty() == program.bytes.empty() || program.bytes.size() > ceimage::kMaxCabinetMember ||
        program.unavailable)
        std::abort();
    auto cab = CabinetLayout::Parse(data, size);
    std::size_t method = cab ? cab->SetupMethod() : fuzz::DepthTally::kMethods - 1;
    fuzz::Stage stage = fuzz::StageOf(program.error, cab);
    if (stage >= fuzz::kDecompressor && method < std::size(reached))
        reached[method] = std::move(bytes);
    if (tallied)
        tally.Count(method, stage);
    return 0;
}
