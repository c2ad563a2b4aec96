// libmspack through the dynamic loader, over an mspack_system of our own
// that serves the cabinet from memory, collects a member into a bounded
// buffer and counts every allocation.
#include "ceimage/mspack_library.h"

#include "dynamic/library.h"

#include <mspack.h>

#include <cstdlib>
#include <cstring>
#include <new>

namespace ceimage {
namespace {

struct Mspack {
    decltype(&::mspack_create_cab_decompressor) createCab;
    decltype(&::mspack_destroy_cab_decompressor) destroyCab;
    decltype(&::mspack_sys_selftest_internal) selftest;
};

const Mspack *OpenMspack(std::string &error)
{
    // The name the library is installed under (Debian's libmspack0).
    static const dynamic::Loaded<Mspack> mspack("libmspack.so.0", [](dynamic::Library &library, Mspack &entries) {
        library.Find("mspack_create_cab_decompressor", entries.createCab);
        library.Find("mspack_destroy_cab_decompressor", entries.destroyCab);
        library.Find("mspack_sys_selftest_internal", entries.selftest);
        // The library and this program must agree on the size of off_t,
        // which its seek and tell pass.
        if (library.Ok() && entries.selftest(sizeof(off_t)) != MSPACK_ERR_OK)
            library.Refuse("libmspack.so.0 was built with another file offset size");
    });
    return mspack.Get(error);
}

// The only two names the library is given: the cabinet, to read, and the
// member being extracted, to write. Anything else it asks for is refused.
constexpr const char *kCabinetName = "cabinet";
constexpr const char *kMemberName = "member";

struct MemorySystem {
    mspack_system system;
    const std::vector<std::uint8_t> *input = nullptr;
    std::vector<std::uint8_t> *output = nullptr;
    std::size_t outputLimit = 0;
    bool outputOverflow = false;
    std::size_t allocated = 0;
    bool outOfMemory = false;
};

struct MemoryFile {
    MemorySystem *system;
    bool output;
    std::size_t pos;
};

// The library hands its calls copies of the system it was given, so the
// calls find theirs here: the one whose cabinet this thread is reading.
thread_local MemorySystem *current = nullptr;

class Current {
public:
    explicit Current(MemorySystem &system) : saved_(current) { current = &system; }
    ~Current() { current = saved_; }

private:
    MemorySystem *saved_;
};

MemoryFile *File(mspack_file *file) { return reinterpret_cast<MemoryFile *>(file); }

mspack_file *OpenFile(mspack_system *, const char *name, int mode)
{
    MemorySystem *self = current;
    bool output;
    if (!self)
        return nullptr;
    if (mode == MSPACK_SYS_OPEN_READ && std::strcmp(name, kCabinetName) == 0)
        output = false;
    else if (mode == MSPACK_SYS_OPEN_WRITE && std::strcmp(name, kMemberName) == 0 && self->output)
        output = true;
    else
        return nullptr;
    if (output)
        self->output->clear();
    return reinterpret_cast<mspack_file *>(new (std::nothrow) MemoryFile{self, output, 0});
}

void CloseFile(mspack_file *file) { delete File(file); }

int ReadFile(mspack_file *file, void *buffer, int bytes)
{
    MemoryFile *f = File(file);
    if (f->output || bytes < 0)
        return -1;
    const std::vector<std::uint8_t> &in = *f->system->input;
    std::size_t n = std::min(static_cast<std::size_t>(bytes), in.size() - f->pos);
    if (n)
        std::memcpy(buffer, in.data() + f->pos, n);
    f->pos += n;
    return static_cast<int>(n);
}

int WriteFile(mspack_file *file, void *buffer, int bytes)
{
    MemoryFile *f = File(file);
    MemorySystem *self = f->system;
    if (!f->output || bytes < 0)
        return -1;
    const auto *p = static_cast<const std::uint8_t *>(buffer);
    if (static_cast<std::size_t>(bytes) > self->outputLimit - self->output->size()) {
        self->outputOverflow = true;
        return -1;
    }
    self->output->insert(self->output->end(), p, p + bytes);
    return bytes;
}

int SeekFile(mspack_file *file, off_t offset, int mode)
{
    MemoryFile *f = File(file);
    if (f->output)
        return -1;
    const auto size = static_cast<long long>(f->system->input->size());
    long long from = mode == MSPACK_SYS_SEEK_START ? 0
                     : mode == MSPACK_SYS_SEEK_CUR ? static_cast<long long>(f->pos)
                     : mode == MSPACK_SYS_SEEK_END ? size
                                                   : -1;
    if (from < 0 || offset < -from || offset > size - from)
        return -1;
    f->pos = static_cast<std::size_t>(from + offset);
    return 0;
}

off_t TellFile(mspack_file *file) { return static_cast<off_t>(File(file)->pos); }

void Message(mspack_file *, const char *, ...) {} // warnings only; the errors come back as codes

// Each block carries its owner and size ahead of what the library sees,
// so that free(), which is given the pointer alone, can count it back.
struct alignas(alignof(std::max_align_t)) BlockHeader {
    MemorySystem *owner;
    std::size_t size;
};

void *Alloc(mspack_system *, size_t bytes)
{
    MemorySystem *self = current;
    if (!self || bytes > kCabinetLibraryMemory - self->allocated) {
        if (self)
            self->outOfMemory = true;
        return nullptr;
    }
    auto *block = static_cast<BlockHeader *>(std::malloc(sizeof(BlockHeader) + bytes));
    if (!block)
        return nullptr;
    *block = BlockHeader{self, bytes};
    self->allocated += bytes;
    return block + 1;
}

void Free(void *p)
{
    if (!p)
        return;
    BlockHeader *block = static_cast<BlockHeader *>(p) - 1;
    block->owner->allocated -= block->size;
    std::free(block);
}

void Copy(void *from, void *to, size_t bytes) { std::memcpy(to, from, bytes); }

std::string Reason(int code, const MemorySystem &system)
{
    if (system.outOfMemory || code == MSPACK_ERR_NOMEMORY)
        return "reading it would take more than " + std::to_string(kCabinetLibraryMemory >> 20) + " MiB";
    switch (code) {
    case MSPACK_ERR_SIGNATURE: return "not a cabinet";
    case MSPACK_ERR_READ: return "the cabinet ends early";
    case MSPACK_ERR_SEEK: return "an offset in the cabinet points past its end";
    case MSPACK_ERR_DATAFORMAT: return "the cabinet is damaged";
    case MSPACK_ERR_CHECKSUM: return "a data block's checksum is wrong";
    case MSPACK_ERR_DECRUNCH: return "compressed data is damaged";
    default: return "libmspack error " + std::to_string(code);
    }
}

} // namespace

struct Cabinet::State {
    MemorySystem system{};
    const Mspack *library = nullptr;
    mscab_decompressor *decompressor = nullptr;
    mscabd_cabinet *cabinet = nullptr;
    std::vector<mscabd_file *> files;

    ~State()
    {
        if (cabinet)
            decompressor->close(decompressor, cabinet);
        if (decompressor)
            library->destroyCab(decompressor);
    }
};

bool CabinetLibraryAvailable(std::string &why) { return OpenMspack(why) != nullptr; }

Cabinet::Cabinet(std::unique_ptr<State> state) : state_(std::move(state)) {}
Cabinet::~Cabinet() = default;

std::unique_ptr<Cabinet> Cabinet::Open(const std::vector<std::uint8_t> &bytes, std::string &error)
{
    auto state = std::make_unique<State>();
    if (!(state->library = OpenMspack(error))) {
        error = "libmspack cannot be loaded: " + error;
        return nullptr;
    }
    MemorySystem &s = state->system;
    s.system = mspack_system{OpenFile, CloseFile, ReadFile, WriteFile, SeekFile, TellFile, Message, Alloc, Free,
                             Copy, nullptr};
    s.input = &bytes;
    Current reading(s);
    if (!(state->decompressor = state->library->createCab(&s.system))) {
        error = Reason(MSPACK_ERR_NOMEMORY, s);
        return nullptr;
    }
    if (!(state->cabinet = state->decompressor->open(state->decompressor, kCabinetName))) {
        error = Reason(state->decompressor->last_error(state->decompressor), s);
        return nullptr;
    }
    std::vector<CabinetMember> members;
    for (mscabd_file *f = state->cabinet->files; f; f = f->next) {
        state->files.push_back(f);
        members.push_back({f->filename ? f->filename : "", f->length});
    }
    std::unique_ptr<Cabinet> cabinet(new Cabinet(std::move(state)));
    cabinet->members_ = std::move(members);
    return cabinet;
}

std::optional<std::vector<std::uint8_t>> Cabinet::Read(std::size_t member, std::size_t limit, std::string &error)
{
    if (members_[member].size > limit) {
        error = "it is " + std::to_string(members_[member].size) + " bytes, more than the " +
                std::to_string(limit) + " a member may have";
        return std::nullopt;
    }
    // A member is reached by decompressing its folder from the start: one
    // that lies far into its folder costs that much work before its own
    // bytes come, however small it is.
    const mscabd_file *file = state_->files[member];
    if (static_cast<std::uint64_t>(file->offset) + file->length > limit) {
        error = "it lies " + std::to_string(file->offset) + " bytes into its folder, and reaching it would "
                "decompress more than the " + std::to_string(limit) + " bytes a member may take";
        return std::nullopt;
    }
    std::vector<std::uint8_t> out;
    out.reserve(members_[member].size);
    MemorySystem &s = state_->system;
    s.output = &out;
    s.outputLimit = limit;
    s.outputOverflow = false;
    Current reading(s);
    int code = state_->decompressor->extract(state_->decompressor, state_->files[member], kMemberName);
    s.output = nullptr;
    if (s.outputOverflow)
        error = "it decompresses to more than " + std::to_string(limit) + " bytes";
    else if (code == MSPACK_ERR_NOMEMORY && !s.outOfMemory) // what LZX and Quantum say of a window they lack
        error = "its folder's compression cannot be set up: a window of 2^" +
                std::to_string(file->folder->comp_type >> 8 & 0x1F) + " bytes, which its method does not have";
    else if (code != MSPACK_ERR_OK)
        error = Reason(code, s);
    else
        return out;
    return std::nullopt;
}

} // namespace ceimage
