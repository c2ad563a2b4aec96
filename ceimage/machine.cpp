// The emulated processor over libunicorn. Core-library calls leave the
// emulation through traps: each import slot points into the trap area, 8 KiB
// (eight of the emulator's 1 KiB pages) that may be read but not executed,
// so a call stops the emulation there with the ordinal in the address; the
// host serves it and resumes at lr.
#include "ceimage/machine.h"

#include "bytes/le_reader.h"
#include "ceimage/unicorn_library.h"

#include <array>
#include <cstdio>

namespace ceimage {
namespace {

constexpr std::uint32_t kTrapBase = 0x7FFF0000;
constexpr std::uint32_t kTrapSize = 0x2000;    // ordinals 1 to 2047
constexpr std::uint32_t kReturnTrap = kTrapBase; // a call from the host returns here

// libunicorn translates guest code into host code the first time it runs
// and keeps every translation in a buffer of 1 GiB, which 2.0.1 cannot
// size. Translating costs the host far more than running: a few hundred
// times an instruction's run, and up to about 1.7 KiB of host code for a
// store of sixteen registers. Once the buffer is full, 2.0.1 empties it
// itself and may then crash, following a jump into a block it threw away;
// emptying it on purpose (UC_CTL_TB_FLUSH) fills every page of the GiB.
// So translating is charged to the guest, enough that no image can fill
// the buffer within its budget: each instruction of a block entered for
// the first time since its code was last written counts kTranslationCost,
// and each store into code kCodeWriteCost, and makes the blocks that may
// hold it be translated, and charged, again. 50 million instructions then
// translate at most 195,000 guest instructions, under 340 MiB of host
// code.
constexpr std::uint64_t kTranslationCost = 256;
constexpr std::uint64_t kCodeWriteCost = 64;
// The furthest a block of libunicorn's reaches: 512 instructions.
constexpr std::uint32_t kMaxBlockBytes = 512 * 4;
constexpr std::uint32_t kThumbBit = 1u << 5; // the CPSR's T
constexpr std::uint32_t kStateBits = 0x3F; // Thumb and the processor mode: translated apart

// A guest word as memory holds it.
std::vector<std::uint8_t> WordBytes(std::uint32_t v)
{
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
            static_cast<std::uint8_t>(v >> 24)};
}

std::string Hex(std::uint64_t v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08llx", static_cast<unsigned long long>(v));
    return buf;
}

// r0 to r15 in their numbers' order, then the CPSR.
const int kSaved[] = {UC_ARM_REG_R0, UC_ARM_REG_R1, UC_ARM_REG_R2,  UC_ARM_REG_R3,  UC_ARM_REG_R4,
                      UC_ARM_REG_R5, UC_ARM_REG_R6, UC_ARM_REG_R7,  UC_ARM_REG_R8,  UC_ARM_REG_R9,
                      UC_ARM_REG_R10, UC_ARM_REG_R11, UC_ARM_REG_R12, UC_ARM_REG_SP, UC_ARM_REG_LR,
                      UC_ARM_REG_PC, UC_ARM_REG_CPSR};

// The ways a program halts the processor until an interrupt comes, which
// none does on the emulated handheld. ARM's wait for interrupt through the
// system control coprocessor (mcr p15, 0, Rd, c7, c0, 4), on both
// processors: libunicorn ends the run without an error, the PC past it.
// The XScale's idle and sleep through its power mode register (mcr p14, 0,
// Rd, c7, c0, 0 with mode 1 or 3): libunicorn refuses it as an invalid
// instruction. Both are ARM instructions (Thumb has no coprocessor ones),
// under any condition but the unconditional space.
bool IsCoprocessorWrite(std::uint32_t insn, std::uint32_t pattern)
{
    return (insn & 0x0FFF0FFFu) == pattern && insn >> 28 != 0xF;
}
bool IsWaitForInterrupt(std::uint32_t insn) { return IsCoprocessorWrite(insn, 0x0E070F90u); }
bool IsPowerModeWrite(std::uint32_t insn) { return IsCoprocessorWrite(insn, 0x0E070E10u); }

std::string Rd(std::uint32_t insn) { return "r" + std::to_string(insn >> 12 & 15); }

} // namespace

Machine::Machine(Cpu cpu, std::uint64_t instructionBudget)
    : budget_(instructionBudget), cpuName_(cpu == Cpu::Sa1110 ? "StrongARM SA-1110" : "XScale PXA255"),
      thumb_(cpu == Cpu::Pxa255), xscale_(cpu == Cpu::Pxa255)
{
    std::string why;
    lib_ = OpenUnicorn(why);
    if (!lib_)
        throw Fault("the ARM emulator cannot be loaded: " + why);
    if (lib_->open(UC_ARCH_ARM, UC_MODE_ARM, &uc_) != UC_ERR_OK)
        throw Fault("the ARM emulator could not be started");
    int model = cpu == Cpu::Sa1110 ? UC_CPU_ARM_SA1110 : UC_CPU_ARM_PXA255;
    if (lib_->ctl(uc_, UC_CTL_WRITE(UC_CTL_CPU_MODEL, 1), model) != UC_ERR_OK)
        throw Fault("the emulator has no such processor model");

    // Every instruction is counted; past the budget the run is a runaway.
    uc_hook hook;
    lib_->hookAdd(uc_, &hook, UC_HOOK_CODE,
                reinterpret_cast<void *>(+[](uc_engine *uc, std::uint64_t, std::uint32_t, void *user) {
                    auto *m = static_cast<Machine *>(user);
                    ++m->executed_;
                    if (m->OverBudget())
                        m->lib_->emuStop(uc);
                }),
                this, 1, 0);
    lib_->hookAdd(uc_, &hook, UC_HOOK_BLOCK,
                  reinterpret_cast<void *>(+[](uc_engine *, std::uint64_t address, std::uint32_t size, void *user) {
                      static_cast<Machine *>(user)->BlockEntered(static_cast<std::uint32_t>(address), size);
                  }),
                  this, 1, 0);
    lib_->hookAdd(
        uc_, &hook, UC_HOOK_MEM_INVALID,
        reinterpret_cast<void *>(+[](uc_engine *, uc_mem_type type, std::uint64_t address, int, std::int64_t,
                                     void *user) -> bool {
            auto *m = static_cast<Machine *>(user);
            m->memType_ = type;
            m->memAddress_ = address;
            return false;
        }),
        this, 1, 0);
    lib_->hookAdd(uc_, &hook, UC_HOOK_INTR,
                reinterpret_cast<void *>(+[](uc_engine *uc, std::uint32_t intno, void *user) {
                    auto *m = static_cast<Machine *>(user);
                    m->interrupt_ = static_cast<int>(intno);
                    m->lib_->emuStop(uc);
                }),
                this, 1, 0);
    Map(kTrapBase, kTrapSize, Read);
}

Machine::~Machine()
{
    if (uc_)
        lib_->close(uc_);
}

void Machine::Map(std::uint32_t address, std::uint32_t size, int access)
{
    std::uint32_t perms = (access & Read ? UC_PROT_READ : 0) | (access & Write ? UC_PROT_WRITE : 0) |
                          (access & Execute ? UC_PROT_EXEC : 0);
    if (lib_->memMap(uc_, address, size, perms) != UC_ERR_OK)
        throw Fault("cannot map " + std::to_string(size) + " bytes at " + Hex(address));
    regions_.push_back({address, address + size, access});
    // Stores into code the guest may write make the host translate it
    // again.
    if ((access & Write) && (access & Execute)) {
        uc_hook hook;
        lib_->hookAdd(uc_, &hook, UC_HOOK_MEM_WRITE,
                      reinterpret_cast<void *>(+[](uc_engine *, uc_mem_type, std::uint64_t at, int bytes,
                                                   std::int64_t, void *user) {
                          auto *m = static_cast<Machine *>(user);
                          m->charged_ += kCodeWriteCost;
                          m->CodeWritten(static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(bytes));
                      }),
                      this, address, address + size - 1);
    }
}

void Machine::BlockEntered(std::uint32_t address, std::uint32_t size)
{
    std::uint32_t state = Reg(UC_ARM_REG_CPSR) & kStateBits;
    std::uint64_t key = std::uint64_t(address) << 8 | state;
    if (key == lastBlock_)
        return;
    lastBlock_ = key;
    if (!blocks_.insert(key).second)
        return;
    charged_ += (size / (state & kThumbBit ? 2 : 4) + 1) * kTranslationCost;
}

// The blocks that may hold the bytes written are translated again when
// they next run, and charged again.
void Machine::CodeWritten(std::uint32_t address, std::uint32_t size)
{
    std::uint64_t from = address > kMaxBlockBytes ? address - kMaxBlockBytes : 0;
    std::uint64_t to = std::uint64_t(address) + size;
    blocks_.erase(blocks_.lower_bound(from << 8), blocks_.lower_bound(to << 8));
    lastBlock_ = ~std::uint64_t(0);
}


std::uint32_t Machine::TrapAddress(std::uint16_t ordinal) const
{
    return kTrapBase + 4u * ordinal;
}

void Machine::Load(std::uint32_t address, const std::vector<std::uint8_t> &bytes)
{
    if (!bytes.empty() && lib_->memWrite(uc_, address, bytes.data(), bytes.size()) != UC_ERR_OK)
        throw Fault("cannot load " + std::to_string(bytes.size()) + " bytes at " + Hex(address));
}

void Machine::Charge(std::uint64_t instructions)
{
    charged_ += instructions;
    if (OverBudget())
        throw Fault(Runaway() + "; stopped in a core-library call");
}

std::string Machine::Runaway() const
{
    std::string s = "runaway: more than " + std::to_string(budget_) + " instructions executed";
    if (charged_)
        s += " (" + std::to_string(charged_) +
             " of them counted for the host's work: core-library calls and translating the image's code)";
    return s;
}

std::vector<std::uint8_t> Machine::ReadBytes(std::uint32_t address, std::uint32_t size, const char *what)
{
    if (running_)
        Charge(size);
    std::vector<std::uint8_t> out(size);
    std::uint64_t at = address, end = static_cast<std::uint64_t>(address) + size;
    while (at < end) {
        const Region *r = RegionOf(static_cast<std::uint32_t>(at), 1);
        if (!r || !(r->access & Read))
            throw Fault(std::string(what) + " reads unmapped memory at " + Hex(at));
        at = std::min<std::uint64_t>(end, r->end);
    }
    if (size && lib_->memRead(uc_, address, out.data(), size) != UC_ERR_OK)
        throw Fault(std::string(what) + " reads unmapped memory at " + Hex(address));
    return out;
}

void Machine::WriteBytes(std::uint32_t address, const void *bytes, std::uint32_t size, const char *what)
{
    if (running_)
        Charge(size);
    std::uint64_t at = address, end = static_cast<std::uint64_t>(address) + size;
    while (at < end) {
        const Region *r = RegionOf(static_cast<std::uint32_t>(at), 1);
        if (!r)
            throw Fault(std::string(what) + " writes to unmapped memory at " + Hex(at));
        if (!(r->access & Write))
            throw Fault(std::string(what) + " writes to read-only memory at " + Hex(at));
        at = std::min<std::uint64_t>(end, r->end);
    }
    if (size && lib_->memWrite(uc_, address, bytes, size) != UC_ERR_OK)
        throw Fault(std::string(what) + " writes to unmapped memory at " + Hex(address));
    CodeWritten(address, size);
}

std::uint32_t Machine::ReadWord(std::uint32_t address, const char *what)
{
    auto b = ReadBytes(address, 4, what);
    return bytes::LeReader(b.data(), b.size()).DwordAt(0);
}

void Machine::WriteWord(std::uint32_t address, std::uint32_t value, const char *what)
{
    auto b = WordBytes(value);
    WriteBytes(address, b.data(), 4, what);
}

void Machine::LoadWord(std::uint32_t address, std::uint32_t value) { Load(address, WordBytes(value)); }

std::u16string Machine::ReadWideText(std::uint32_t address, std::size_t max, const char *what)
{
    std::u16string text;
    std::uint32_t at = address;
    while (text.size() < max) {
        const Region *r = RegionOf(at, 2);
        if (!r || !(r->access & Read))
            throw Fault(std::string(what) + " reads a text past mapped memory at " + Hex(at));
        std::uint32_t chars = std::min<std::uint32_t>((r->end - at) / 2, 256);
        chars = static_cast<std::uint32_t>(std::min<std::size_t>(chars, max - text.size()));
        auto bytes = ReadBytes(at, chars * 2, what);
        bytes::LeReader words(bytes.data(), bytes.size());
        for (std::uint32_t i = 0; i < chars; ++i) {
            char16_t c = static_cast<char16_t>(words.Word());
            if (c == 0)
                return text;
            text.push_back(c);
        }
        at += chars * 2;
    }
    return text;
}

std::string Machine::ReadNarrowText(std::uint32_t address, std::size_t max, const char *what)
{
    std::string text;
    for (std::uint32_t at = address; text.size() < max; ++at) {
        char c = static_cast<char>(ReadBytes(at, 1, what)[0]);
        if (c == 0)
            break;
        text.push_back(c);
    }
    return text;
}

const Machine::Region *Machine::RegionOf(std::uint32_t address, std::uint32_t size) const
{
    for (const Region &r : regions_)
        if (address >= r.begin && address < r.end && size <= r.end - address)
            return &r;
    return nullptr;
}

std::uint32_t Machine::Reg(int id) const
{
    std::uint32_t v = 0;
    lib_->regRead(uc_, id, &v);
    return v;
}

void Machine::SetReg(int id, std::uint32_t value) { lib_->regWrite(uc_, id, &value); }

std::uint32_t Machine::Argument(unsigned i)
{
    if (i < 4)
        return Reg(UC_ARM_REG_R0 + static_cast<int>(i));
    return ReadWord(Reg(UC_ARM_REG_SP) + 4 * (i - 4), "a core-library call's stacked argument");
}

void Machine::SetResult(std::uint32_t r0) { SetReg(UC_ARM_REG_R0, r0); }

void Machine::SetStackPointer(std::uint32_t sp) { SetReg(UC_ARM_REG_SP, sp); }

std::uint32_t Machine::StackPointer() const { return Reg(UC_ARM_REG_SP); }

std::uint32_t Machine::Readable(std::uint32_t address, std::uint32_t size) const
{
    std::uint64_t at = address, end = static_cast<std::uint64_t>(address) + size;
    while (at < end) {
        const Region *r = RegionOf(static_cast<std::uint32_t>(at), 1);
        if (!r || !(r->access & Read))
            break;
        at = std::min<std::uint64_t>(end, r->end);
    }
    return static_cast<std::uint32_t>(at - address);
}

std::uint32_t Machine::Call(std::uint32_t fn, const std::vector<std::uint32_t> &args)
{
    std::array<std::uint32_t, sizeof kSaved / sizeof kSaved[0]> saved;
    for (size_t i = 0; i < saved.size(); ++i)
        saved[i] = Reg(kSaved[i]);
    for (size_t i = 0; i < args.size() && i < 4; ++i)
        SetReg(UC_ARM_REG_R0 + static_cast<int>(i), args[i]);
    SetReg(UC_ARM_REG_SP, Reg(UC_ARM_REG_SP) & ~7u);
    SetReg(UC_ARM_REG_LR, kReturnTrap);

    struct Running {
        unsigned &depth;
        explicit Running(unsigned &d) : depth(d) { ++depth; }
        ~Running() { --depth; }
    } running(running_);
    std::uint32_t pc = fn;
    const char *how = "call to";
    for (;;) {
        // An odd address is Thumb state: an interworking call or return on
        // a processor that has it (ARMv5TE), a fault on one that has not.
        if (pc & 1 && !thumb_)
            throw Fault(std::string(how) + " " + Hex(pc) + ", an odd address: Thumb state, which the " + cpuName_ +
                        " (ARMv4) does not have");
        memType_ = -1;
        interrupt_ = -1;
        uc_err err = lib_->emuStart(uc_, pc, 0, 0, 0);
        bool trapped = err == UC_ERR_FETCH_PROT && memType_ == UC_MEM_FETCH_PROT &&
                       memAddress_ >= kTrapBase && memAddress_ < kTrapBase + kTrapSize;
        if (!trapped || OverBudget() || interrupt_ >= 0)
            Stopped(err, Reg(UC_ARM_REG_PC));
        std::uint32_t trap = static_cast<std::uint32_t>(memAddress_);
        if (trap == kReturnTrap) {
            std::uint32_t result = Reg(UC_ARM_REG_R0);
            for (size_t i = 0; i < saved.size(); ++i)
                SetReg(kSaved[i], saved[i]);
            return result;
        }
        if ((trap - kTrapBase) % 4 != 0)
            throw Fault("jump into the middle of a core-library entry at " + Hex(trap));
        if (trap_)
            trap_(*this, static_cast<std::uint16_t>((trap - kTrapBase) / 4));
        pc = Reg(UC_ARM_REG_LR);
        how = "return from a core-library call to";
    }
}

void Machine::Stopped(int error, std::uint32_t pc)
{
    if (OverBudget())
        throw Fault(Runaway() + "; stopped at " + Hex(pc));
    if (interrupt_ >= 0) {
        std::uint32_t insn = 0;
        lib_->memRead(uc_, pc, &insn, 4);
        switch (interrupt_) {
        case 1:
            throw Fault("undefined instruction " + Hex(insn) + " at " + Hex(pc) + ": the " + cpuName_ +
                        " has no such instruction");
        case 2:
            throw Fault("software interrupt at " + Hex(pc));
        case 7:
            throw Fault("breakpoint at " + Hex(pc));
        default:
            throw Fault("processor exception " + std::to_string(interrupt_) + " at " + Hex(pc));
        }
    }
    switch (memType_) {
    case UC_MEM_READ_UNMAPPED:
        throw Fault("read of unmapped memory at " + Hex(memAddress_) + " by the instruction at " + Hex(pc));
    case UC_MEM_WRITE_UNMAPPED:
        throw Fault("write to unmapped memory at " + Hex(memAddress_) + " by the instruction at " + Hex(pc));
    case UC_MEM_WRITE_PROT:
        throw Fault("write to read-only memory at " + Hex(memAddress_) + " by the instruction at " + Hex(pc));
    case UC_MEM_READ_PROT:
        throw Fault("read of unreadable memory at " + Hex(memAddress_) + " by the instruction at " + Hex(pc));
    case UC_MEM_FETCH_UNMAPPED:
        throw Fault("jump to unmapped memory at " + Hex(memAddress_));
    case UC_MEM_FETCH_PROT:
        throw Fault("jump into memory that is not code at " + Hex(memAddress_));
    default:
        break;
    }
    bool arm = !(Reg(UC_ARM_REG_CPSR) & kThumbBit);
    if (error == UC_ERR_INSN_INVALID) {
        std::uint32_t insn = 0;
        lib_->memRead(uc_, pc, &insn, 4);
        if (xscale_ && arm && IsPowerModeWrite(insn))
            PowerModeWritten(insn, pc);
        throw Fault("invalid instruction " + Hex(insn) + " at " + Hex(pc) + ": the " + cpuName_ +
                    " has no such instruction");
    }
    std::uint32_t before = 0;
    if (error == UC_ERR_OK && pc >= 4 && arm && lib_->memRead(uc_, pc - 4, &before, 4) == UC_ERR_OK &&
        IsWaitForInterrupt(before))
        throw Fault("the processor halted at " + Hex(pc - 4) + ": wait for interrupt (mcr p15, 0, " + Rd(before) +
                    ", c7, c0, 4), and nothing on the emulated handheld wakes it");
    if (error == UC_ERR_OK && pc == 0)
        throw Fault("jump to address 0 (a null function pointer)");
    throw Fault(std::string("emulation stopped at ") + Hex(pc) + ": " + lib_->strerror(static_cast<uc_err>(error)));
}

// The XScale's power mode register written: idle (1) and sleep (3) halt
// the processor; the other modes (run, and one reserved) the emulator
// does not carry out either.
void Machine::PowerModeWritten(std::uint32_t insn, std::uint32_t pc)
{
    std::uint32_t mode = Reg(kSaved[insn >> 12 & 15]) & 3;
    std::string how = "(mcr p14, 0, " + Rd(insn) + ", c7, c0, 0 with mode " + std::to_string(mode) + ")";
    if (mode == 1 || mode == 3)
        throw Fault("the processor halted at " + Hex(pc) + ": " + (mode == 1 ? "idle " : "sleep ") + how +
                    ", and nothing on the emulated handheld wakes it");
    throw Fault("power mode change at " + Hex(pc) + " " + how + ", which the emulated " + cpuName_ +
                " does not carry out");
}

} // namespace ceimage
