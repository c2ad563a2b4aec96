// The emulated handheld processor (libunicorn): its memory regions with
// their protections, calls into guest code, and the traps through which the
// guest reaches the core library. Anything the guest does wrong (an
// undefined instruction, a bad memory access, a runaway loop) ends the run
// with a Fault that names the address and what happened. The instruction
// budget bounds the host's work too: while guest code runs, every byte the
// host reads or writes in guest memory counts as an instruction, and so
// does whatever else the host charges for serving the guest, translating
// its code or translating it again after it rewrote it.
#ifndef SAMBREL_CEIMAGE_MACHINE_H
#define SAMBREL_CEIMAGE_MACHINE_H

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <set>
#include <vector>

struct uc_struct;

namespace ceimage {

struct Unicorn;

class Fault : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class Cpu { Sa1110, Pxa255 };

class Machine {
public:
    // A guest call into the core library: the ordinal whose trap was hit.
    // The handler reads the arguments and sets r0; the machine returns to lr.
    using TrapHandler = std::function<void(Machine &, std::uint16_t ordinal)>;

    enum Access { Read = 1, Write = 2, Execute = 4 };

    Machine(Cpu cpu, std::uint64_t instructionBudget);
    ~Machine();
    Machine(const Machine &) = delete;
    Machine &operator=(const Machine &) = delete;

    void Map(std::uint32_t address, std::uint32_t size, int access);
    // Sets up the traps: the address a guest jumps to for an ordinal.
    std::uint32_t TrapAddress(std::uint16_t ordinal) const;
    void OnTrap(TrapHandler handler) { trap_ = std::move(handler); }

    // Loads bytes, or a word, whatever the protection, as the loader does.
    void Load(std::uint32_t address, const std::vector<std::uint8_t> &bytes);
    void LoadWord(std::uint32_t address, std::uint32_t value);

    // Guest memory as the guest may use it: reads of mapped memory, writes
    // only where the guest may write; otherwise a Fault naming what.
    std::vector<std::uint8_t> ReadBytes(std::uint32_t address, std::uint32_t size, const char *what);
    void WriteBytes(std::uint32_t address, const void *bytes, std::uint32_t size, const char *what);
    std::uint32_t ReadWord(std::uint32_t address, const char *what);
    void WriteWord(std::uint32_t address, std::uint32_t value, const char *what);
    // A zero-terminated UTF-16 text of at most max characters (cut there).
    std::u16string ReadWideText(std::uint32_t address, std::size_t max, const char *what);
    std::string ReadNarrowText(std::uint32_t address, std::size_t max, const char *what);

    // The core-library call being served: argument i (0-based, AAPCS: r0 to
    // r3, then the stack).
    std::uint32_t Argument(unsigned i);
    void SetResult(std::uint32_t r0);

    // Calls guest code at fn with up to four arguments, on the current
    // stack, and returns its r0. Registers are as they were afterwards.
    std::uint32_t Call(std::uint32_t fn, const std::vector<std::uint32_t> &args);
    void SetStackPointer(std::uint32_t sp);
    std::uint32_t StackPointer() const;
    // How many of the size bytes from address the guest may read, in one run.
    std::uint32_t Readable(std::uint32_t address, std::uint32_t size) const;

    // Counts host work done for the guest as instructions; past the
    // budget, a runaway Fault.
    void Charge(std::uint64_t instructions);
    // The guest's own instructions, and those charged for the host's work.
    std::uint64_t Instructions() const { return executed_; }
    std::uint64_t Charged() const { return charged_; }

private:
    struct Region {
        std::uint32_t begin, end;
        int access;
    };
    const Region *RegionOf(std::uint32_t address, std::uint32_t size) const;
    std::uint32_t Reg(int id) const;
    void SetReg(int id, std::uint32_t value);
    [[noreturn]] void Stopped(int error, std::uint32_t pc);
    [[noreturn]] void PowerModeWritten(std::uint32_t insn, std::uint32_t pc);
    void BlockEntered(std::uint32_t address, std::uint32_t size);
    void CodeWritten(std::uint32_t address, std::uint32_t size);
    bool OverBudget() const { return executed_ + charged_ > budget_; }
    std::string Runaway() const;

    const Unicorn *lib_ = nullptr;
    uc_struct *uc_ = nullptr;
    std::vector<Region> regions_;
    TrapHandler trap_;
    std::uint64_t budget_;
    std::string cpuName_;
    bool thumb_;  // whether the processor has Thumb state
    bool xscale_; // whether it has the XScale's power modes
    std::uint64_t executed_ = 0;
    std::uint64_t charged_ = 0;
    unsigned running_ = 0; // calls into guest code under way
    // What the hooks saw when the emulation stopped.
    int memType_ = -1;
    std::uint64_t memAddress_ = 0;
    int interrupt_ = -1;
    // The blocks of guest code translated since their code was last
    // written, by address and processor state; the last one entered is
    // remembered apart, as loops enter it again and again.
    std::set<std::uint64_t> blocks_;
    std::uint64_t lastBlock_ = ~std::uint64_t(0);
};

} // namespace ceimage

#endif
