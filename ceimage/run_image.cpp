// Loads a CE image into the emulated machine and calls its entry.
#include "ceimage/run_image.h"

#include "ceimage/coredll_served.h"
#include "ceimage/unicorn_library.h"
#include "platform/sim/public/handheld.h"

namespace ceimage {
namespace {

constexpr std::uint32_t kPage = 0x1000;
constexpr std::uint32_t kStackTop = 0x00F00000;
constexpr std::uint32_t kMinStack = 0x10000;
constexpr std::uint32_t kMaxStack = kStackTop - kImageSpaceEnd;

std::uint32_t PageAlign(std::uint64_t n) { return static_cast<std::uint32_t>((n + kPage - 1) & ~std::uint64_t(kPage - 1)); }

int AccessOf(const ImageSection &s)
{
    int access = 0;
    if (s.characteristics & 0x40000000u)
        access |= Machine::Read;
    if (s.Writable())
        access |= Machine::Write;
    if (s.Executable())
        access |= Machine::Execute | Machine::Read;
    return access;
}

} // namespace

RunResult RunImage(const PeImage &image, const RunOptions &options)
{
    Machine m(options.cpu, options.instructionBudget);
    std::uint32_t base = options.loadAddress ? options.loadAddress : image.imageBase;
    if (base & (kPage - 1) || base < kImageSpaceBegin ||
        base + static_cast<std::uint64_t>(image.sizeOfImage) > kImageSpaceEnd)
        throw Fault("the image cannot be loaded at its address");

    // The headers are readable; each section gets its own protection, and
    // whatever the sections leave of the image is not mapped at all.
    m.Map(base, PageAlign(image.sizeOfHeaders), Machine::Read);
    m.Load(base, image.headers);
    for (const ImageSection &s : image.sections) {
        std::uint32_t size = PageAlign(std::max<std::uint64_t>(s.virtualSize, s.data.size()));
        if (size)
            m.Map(base + s.rva, size, AccessOf(s));
        m.Load(base + s.rva, s.data);
    }

    std::uint32_t delta = base - image.imageBase;
    if (delta) {
        for (std::uint32_t rva : image.relocations)
            m.LoadWord(base + rva, m.ReadWord(base + rva, "a base relocation") + delta);
    }
    for (const ImageImport &import : image.imports) {
        if (!Serves(import.ordinal))
            throw Fault("the image imports COREDLL ordinal " + std::to_string(import.ordinal) +
                        ", which this handheld does not serve");
        m.LoadWord(base + import.slotRva, m.TrapAddress(import.ordinal));
    }

    std::uint32_t stack = PageAlign(std::min(std::max(image.stackReserve, kMinStack), kMaxStack));
    m.Map(kStackTop - stack, stack, Machine::Read | Machine::Write);
    // An empty command line, above the first frame.
    std::uint32_t commandLine = kStackTop - 8;
    m.WriteWord(commandLine, 0, "the command line");
    m.SetStackPointer(commandLine);

    Module module{&image, base};
    m.OnTrap([&module](Machine &machine, std::uint16_t ordinal) { ServeCoredll(machine, module, ordinal); });
    struct Limited {
        sim::Registry &registry;
        explicit Limited(sim::Registry &r) : registry(r) { registry.LimitGrowth(kMaxRegistryGrowth); }
        ~Limited() { registry.LimitGrowth(std::nullopt); }
    } limited(sim::Handheld::Current().registry());
    const std::uint32_t kShowNormal = 1;
    std::uint32_t result = m.Call(base + image.entryRva, {base, 0, commandLine, kShowNormal});
    return {static_cast<std::int32_t>(result), m.Instructions(), m.Charged()};
}

bool EmulatorAvailable(std::string &why) { return OpenUnicorn(why) != nullptr; }

} // namespace ceimage
