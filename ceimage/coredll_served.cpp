// Serves the guest's core-library calls through the simulated handheld's
// coredll entry points, so that faults, last errors, the registry, the
// resources, the dialog manager and the string routines behave as they do
// for the program compiled into the command. The formatters alone take
// another way in: the handheld's own formatter reads the guest's argument
// words where a C va_list cannot carry them.
#include "ceimage/coredll_served.h"

#include "platform/coredll.h"
#include "platform/sim/public/format.h"
#include "platform/sim/public/handheld.h"

#include <algorithm>
#include <deque>
#include <optional>

namespace ceimage {
namespace {

// No registry name or value, text or format argument is longer than this:
// no buffer of the guest's is copied in or out beyond it.
constexpr std::uint32_t kMaxBufferBytes = 16u << 20;
constexpr std::size_t kMaxTextChars = 8u << 20;

std::uint32_t Guest(const void *handle) { return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(handle)); }

template <typename Handle>
Handle Host(std::uint32_t value)
{
    return reinterpret_cast<Handle>(static_cast<std::uintptr_t>(value));
}

// A text argument; absent for a null pointer.
struct Text {
    std::optional<std::u16string> text;
    LPCWSTR get() const { return text ? text->c_str() : nullptr; }
};

Text ReadText(Machine &m, std::uint32_t address, const char *what)
{
    Text t;
    if (address)
        t.text = m.ReadWideText(address, kMaxTextChars, what);
    return t;
}

// A resource name or type: a 16-bit id, or a text.
struct ResName {
    Text text;
    std::uint32_t id = 0;
    LPCWSTR get() const { return text.text ? text.get() : MAKEINTRESOURCEW(id); }
};

ResName ReadResName(Machine &m, std::uint32_t address, const char *what)
{
    ResName r;
    if (address >> 16)
        r.text = ReadText(m, address, what);
    else
        r.id = address;
    return r;
}

// The bytes of a buffer the guest hands in, size as it says: more than the
// host takes, or more than its memory holds, ends the run.
std::vector<std::uint8_t> ReadIn(Machine &m, std::uint32_t address, std::uint32_t size, const char *what)
{
    if (size > kMaxBufferBytes)
        throw Fault(std::string(what) + " is " + std::to_string(size) + " bytes; the handheld takes at most " +
                    std::to_string(kMaxBufferBytes >> 20) + " MiB");
    return m.ReadBytes(address, size, what);
}

// A DWORD the guest passes by pointer, copied in and back. A value the host
// cut (a buffer's size, below) that the callee left as it was, in a call
// that failed, goes back as the guest gave it.
class InOutDword {
public:
    InOutDword(Machine &m, std::uint32_t address, const char *what) : m_(m), address_(address), what_(what)
    {
        if (address_)
            value_ = given_ = m_.ReadWord(address_, what_);
    }
    DWORD *get() { return address_ ? &value_ : nullptr; }
    DWORD value() const { return value_; }
    void Cut(DWORD value)
    {
        value_ = value;
        cut_ = value;
    }
    void WriteBack(LONG result)
    {
        if (!address_)
            return;
        bool left = cut_ && value_ == *cut_ && result != ERROR_SUCCESS;
        m_.WriteWord(address_, left ? given_ : value_, what_);
    }

private:
    Machine &m_;
    std::uint32_t address_;
    const char *what_;
    DWORD value_ = 0, given_ = 0;
    std::optional<DWORD> cut_;
};

// A buffer the callee fills: the guest's bytes as they are (as far as they
// are mapped), and afterwards everything up to the last byte the callee
// changed is written back, so that writing past the guest's memory faults
// as it would on the device. The callee may add a terminator past size.
class OutBuffer {
public:
    OutBuffer(Machine &m, std::uint32_t address, std::uint32_t size, const char *what)
        : m_(m), address_(address), what_(what)
    {
        if (!address_)
            return;
        before_ = m_.ReadBytes(address_, m_.Readable(address_, size), what_);
        before_.resize(static_cast<std::size_t>(size) + 2);
        bytes_ = before_;
    }
    BYTE *get() { return address_ ? bytes_.data() : nullptr; }
    WCHAR *wide() { return reinterpret_cast<WCHAR *>(get()); }
    void WriteBack()
    {
        if (!address_)
            return;
        std::size_t end = bytes_.size();
        while (end > 0 && bytes_[end - 1] == before_[end - 1])
            --end;
        if (end)
            m_.WriteBytes(address_, bytes_.data(), static_cast<std::uint32_t>(end), what_);
    }

private:
    Machine &m_;
    std::uint32_t address_;
    const char *what_;
    std::vector<std::uint8_t> before_, bytes_;
};

// A buffer the callee fills and the count, by pointer, that gives its size
// in units (bytes, or characters of two): the one place where a size the
// guest claims meets the host. The callee is given the count cut to what
// both the host buffer (kMaxBufferBytes) and the guest's memory from the
// buffer's start hold, so that it never writes past either; a value too
// large for them is ERROR_MORE_DATA, as for any buffer too small.
class CountedBuffer {
public:
    CountedBuffer(Machine &m, std::uint32_t address, std::uint32_t countAt, unsigned unit, const char *what,
                  const char *countWhat)
        : count_(m, countAt, countWhat), buffer_(m, address, Size(m, address, count_, unit), what)
    {
    }
    BYTE *get() { return buffer_.get(); }
    WCHAR *wide() { return buffer_.wide(); }
    DWORD *count() { return count_.get(); }
    void WriteBack(LONG result)
    {
        buffer_.WriteBack();
        count_.WriteBack(result);
    }

private:
    // The buffer's size in bytes; cuts the count to it.
    static std::uint32_t Size(Machine &m, std::uint32_t address, InOutDword &count, unsigned unit)
    {
        if (!address || !count.get())
            return 0; // the callee fills no buffer without both
        std::uint64_t claimed = std::uint64_t{count.value()} * unit;
        std::uint32_t held = m.Readable(address, static_cast<std::uint32_t>(std::min<std::uint64_t>(claimed, kMaxBufferBytes)));
        if (held < claimed)
            count.Cut(held / unit);
        return count.value() * unit;
    }
    InOutDword count_;
    OutBuffer buffer_;
};

// wsprintfW's arguments: guest words from a register list, then memory.
class GuestFormatArgs : public sim::FormatArgs {
public:
    GuestFormatArgs(Machine &m, std::vector<std::uint32_t> registers, std::uint32_t memory)
        : m_(m), registers_(std::move(registers)), memory_(memory)
    {
    }
    int Int() override { return static_cast<std::int32_t>(Word()); }
    unsigned Unsigned() override { return Word(); }
    const WCHAR *WideText() override { return Kept(wide_, &Machine::ReadWideText, "wsprintfW's %s argument"); }
    const char *NarrowText() override
    {
        return Kept(narrow_, &Machine::ReadNarrowText, "wsprintfW's %hs argument");
    }

private:
    // The text the next argument points at, kept while the call lasts.
    template <typename Text>
    const typename Text::value_type *Kept(std::deque<Text> &kept,
                                          Text (Machine::*read)(std::uint32_t, std::size_t, const char *),
                                          const char *what)
    {
        std::uint32_t p = Word();
        if (!p)
            return nullptr;
        kept.push_back((m_.*read)(p, sim::kWsprintfLimit, what));
        return kept.back().c_str();
    }
    std::uint32_t Word()
    {
        if (next_ < registers_.size())
            return registers_[next_++];
        std::uint32_t w = m_.ReadWord(memory_, "wsprintfW's arguments");
        memory_ += 4;
        return w;
    }
    Machine &m_;
    std::vector<std::uint32_t> registers_;
    std::size_t next_ = 0;
    std::uint32_t memory_;
    std::deque<std::u16string> wide_;
    std::deque<std::string> narrow_;
};

void Format(Machine &m, std::uint32_t out, std::uint32_t format, GuestFormatArgs &args)
{
    Text fmt = ReadText(m, format, "wsprintfW's format");
    WCHAR text[sim::kWsprintfLimit];
    int n = sim::WsprintfW(text, fmt.get(), args);
    m.WriteBytes(out, text, static_cast<std::uint32_t>((n + 1) * 2), "wsprintfW's output");
    m.SetResult(static_cast<std::uint32_t>(n));
}

HINSTANCE Instance(const Module &module, std::uint32_t handle)
{
    if (handle == module.base)
        return sim::Handheld::Current().Instance();
    return Host<HINSTANCE>(handle);
}

// A key handle the callee returns by pointer: the guest's slot, written back
// as InOutDword writes it.
class KeyOut {
public:
    KeyOut(Machine &m, std::uint32_t address, const char *what) : slot_(m, address, what) {}
    HKEY *get() { return slot_.get() ? &key_ : nullptr; }
    void WriteBack(LONG result)
    {
        if (!slot_.get())
            return;
        *slot_.get() = Guest(key_);
        slot_.WriteBack(result);
    }

private:
    InOutDword slot_;
    HKEY key_ = nullptr;
};

// The dialog procedures of the guest's running dialogs, innermost last.
// Each dialog a dialog procedure opens runs the guest again on the host's
// stack, so their nesting is bounded, however large the guest's stack.
thread_local std::vector<std::pair<Machine *, std::uint32_t>> tDialogProcs;
constexpr std::size_t kMaxNestedDialogs = 16;

INT_PTR CALLBACK GuestDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto [machine, proc] = tDialogProcs.back();
    std::uint32_t r = machine->Call(proc, {Guest(window), message, static_cast<std::uint32_t>(wParam),
                                           static_cast<std::uint32_t>(lParam)});
    return static_cast<std::int32_t>(r);
}

// Each served call, named after its operation: its arguments are read from
// the guest's registers, stack and memory, its result set in r0.
namespace served {

void RegCloseKey(Machine &m, const Module &)
{
    m.SetResult(static_cast<std::uint32_t>(coredll::RegCloseKey(Host<HKEY>(m.Argument(0)))));
}

void RegCreateKeyExW(Machine &m, const Module &)
{
    Text subkey = ReadText(m, m.Argument(1), "RegCreateKeyExW's subkey");
    Text cls = ReadText(m, m.Argument(3), "RegCreateKeyExW's class");
    SECURITY_ATTRIBUTES sa{};
    KeyOut key(m, m.Argument(7), "RegCreateKeyExW's key");
    InOutDword disposition(m, m.Argument(8), "RegCreateKeyExW's disposition");
    LONG r = coredll::RegCreateKeyExW(Host<HKEY>(m.Argument(0)), subkey.get(), m.Argument(2),
                                      const_cast<LPWSTR>(cls.get()), m.Argument(4), m.Argument(5),
                                      m.Argument(6) ? &sa : nullptr, key.get(), disposition.get());
    key.WriteBack(r);
    disposition.WriteBack(r);
    m.SetResult(static_cast<std::uint32_t>(r));
}

void RegOpenKeyExW(Machine &m, const Module &)
{
    Text subkey = ReadText(m, m.Argument(1), "RegOpenKeyExW's subkey");
    KeyOut key(m, m.Argument(4), "RegOpenKeyExW's key");
    LONG r = coredll::RegOpenKeyExW(Host<HKEY>(m.Argument(0)), subkey.get(), m.Argument(2), m.Argument(3),
                                    key.get());
    key.WriteBack(r);
    m.SetResult(static_cast<std::uint32_t>(r));
}

void RegEnumKeyExW(Machine &m, const Module &)
{
    CountedBuffer name(m, m.Argument(2), m.Argument(3), 2, "RegEnumKeyExW's name", "RegEnumKeyExW's name size");
    InOutDword reserved(m, m.Argument(4), "RegEnumKeyExW's reserved");
    CountedBuffer cls(m, m.Argument(5), m.Argument(6), 2, "RegEnumKeyExW's class", "RegEnumKeyExW's class size");
    OutBuffer time(m, m.Argument(7), sizeof(FILETIME), "RegEnumKeyExW's time");
    LONG r = coredll::RegEnumKeyExW(Host<HKEY>(m.Argument(0)), m.Argument(1), name.wide(), name.count(),
                                    reserved.get(), cls.wide(), cls.count(), reinterpret_cast<PFILETIME>(time.get()));
    name.WriteBack(r);
    cls.WriteBack(r);
    time.WriteBack();
    m.SetResult(static_cast<std::uint32_t>(r));
}

void RegEnumValueW(Machine &m, const Module &)
{
    CountedBuffer name(m, m.Argument(2), m.Argument(3), 2, "RegEnumValueW's name", "RegEnumValueW's name size");
    InOutDword reserved(m, m.Argument(4), "RegEnumValueW's reserved");
    InOutDword type(m, m.Argument(5), "RegEnumValueW's type");
    CountedBuffer data(m, m.Argument(6), m.Argument(7), 1, "RegEnumValueW's data", "RegEnumValueW's data size");
    LONG r = coredll::RegEnumValueW(Host<HKEY>(m.Argument(0)), m.Argument(1), name.wide(), name.count(),
                                    reserved.get(), type.get(), data.get(), data.count());
    name.WriteBack(r);
    data.WriteBack(r);
    type.WriteBack(r);
    m.SetResult(static_cast<std::uint32_t>(r));
}

void RegSetValueExW(Machine &m, const Module &)
{
    Text name = ReadText(m, m.Argument(1), "RegSetValueExW's value name");
    std::uint32_t at = m.Argument(4), size = m.Argument(5);
    std::vector<std::uint8_t> data;
    if (at)
        data = ReadIn(m, at, size, "RegSetValueExW's data");
    LONG r = coredll::RegSetValueExW(Host<HKEY>(m.Argument(0)), name.get(), m.Argument(2), m.Argument(3),
                                     at ? data.data() : nullptr, at ? static_cast<DWORD>(data.size()) : size);
    m.SetResult(static_cast<std::uint32_t>(r));
}

void GetLastError(Machine &m, const Module &) { m.SetResult(coredll::GetLastError()); }

void FindResourceW(Machine &m, const Module &module)
{
    ResName name = ReadResName(m, m.Argument(1), "FindResourceW's name");
    ResName type = ReadResName(m, m.Argument(2), "FindResourceW's type");
    m.SetResult(Guest(coredll::FindResourceW(Instance(module, m.Argument(0)), name.get(), type.get())));
}

// The resource's bytes where the guest's module holds them.
void LoadResource(Machine &m, const Module &module)
{
    HGLOBAL data = coredll::LoadResource(Instance(module, m.Argument(0)), Host<HRSRC>(m.Argument(1)));
    if (!data) {
        m.SetResult(0);
        return;
    }
    const sim::Resources &resources = sim::Handheld::Current().resources();
    m.Charge(resources.All().size());
    const sim::Resource *res = resources.Containing(data);
    std::size_t index = res ? resources.IndexOf(res) : 0;
    if (!index || index > module.image->resources.size())
        throw Fault("LoadResource gave bytes that are not the module's");
    m.SetResult(module.base + module.image->resources[index - 1].rva +
                static_cast<std::uint32_t>(static_cast<const BYTE *>(data) - res->data.data()));
}

void DialogBoxIndirectParamW(Machine &m, const Module &module)
{
    std::uint32_t tmpl = m.Argument(1), proc = m.Argument(3);
    // The template the guest points at, among the module's resources: the
    // handheld reads templates whose extent it knows.
    const BYTE *hostTemplate = nullptr;
    static const BYTE kElsewhere = 0;
    if (tmpl) {
        hostTemplate = &kElsewhere;
        const auto &all = module.image->resources;
        m.Charge(all.size());
        for (std::size_t i = 0; i < all.size(); ++i) {
            std::uint32_t begin = module.base + all[i].rva;
            if (tmpl >= begin && tmpl - begin < all[i].resource.data.size())
                hostTemplate = sim::Handheld::Current().resources().At(i + 1)->data.data() + (tmpl - begin);
        }
    }
    if (tDialogProcs.size() == kMaxNestedDialogs)
        throw Fault("dialogs nested more than " + std::to_string(kMaxNestedDialogs) +
                    " deep: a dialog procedure opened one more");
    tDialogProcs.emplace_back(&m, proc);
    struct Pop {
        ~Pop() { tDialogProcs.pop_back(); }
    } pop;
    INT_PTR r = coredll::DialogBoxIndirectParamW(Instance(module, m.Argument(0)),
                                                 reinterpret_cast<LPCDLGTEMPLATEW>(hostTemplate),
                                                 Host<HWND>(m.Argument(2)), proc ? GuestDialogProc : nullptr,
                                                 static_cast<std::int32_t>(m.Argument(4)));
    m.SetResult(static_cast<std::uint32_t>(r));
}

void EndDialog(Machine &m, const Module &)
{
    m.SetResult(static_cast<std::uint32_t>(
        coredll::EndDialog(Host<HWND>(m.Argument(0)), static_cast<std::int32_t>(m.Argument(1)))));
}

void SetForegroundWindow(Machine &m, const Module &)
{
    m.SetResult(static_cast<std::uint32_t>(coredll::SetForegroundWindow(Host<HWND>(m.Argument(0)))));
}

void MessageBoxW(Machine &m, const Module &)
{
    Text text = ReadText(m, m.Argument(1), "MessageBoxW's text");
    Text caption = ReadText(m, m.Argument(2), "MessageBoxW's caption");
    m.SetResult(static_cast<std::uint32_t>(
        coredll::MessageBoxW(Host<HWND>(m.Argument(0)), text.get(), caption.get(), m.Argument(3))));
}

// The arguments follow the format in r2, r3, then the stack.
void wsprintfW(Machine &m, const Module &)
{
    GuestFormatArgs args(m, {m.Argument(2), m.Argument(3)}, m.StackPointer());
    Format(m, m.Argument(0), m.Argument(1), args);
}

// va_list is a pointer to the argument words.
void wvsprintfW(Machine &m, const Module &)
{
    GuestFormatArgs args(m, {}, m.Argument(2));
    Format(m, m.Argument(0), m.Argument(1), args);
}

void wcslen(Machine &m, const Module &)
{
    std::u16string text = m.ReadWideText(m.Argument(0), kMaxTextChars, "wcslen's text");
    m.SetResult(static_cast<std::uint32_t>(coredll::wcslen(text.c_str())));
}

// A null text is read at address 0, and faults there as on the device.
void wcscmp(Machine &m, const Module &)
{
    std::u16string a = m.ReadWideText(m.Argument(0), kMaxTextChars, "wcscmp's text");
    std::u16string b = m.ReadWideText(m.Argument(1), kMaxTextChars, "wcscmp's text");
    m.SetResult(static_cast<std::uint32_t>(coredll::wcscmp(a.c_str(), b.c_str())));
}

// No further than n characters of either.
void wcsncmp(Machine &m, const Module &)
{
    std::u16string a = m.ReadWideText(m.Argument(0), m.Argument(2), "wcsncmp's text");
    std::u16string b = m.ReadWideText(m.Argument(1), m.Argument(2), "wcsncmp's text");
    m.SetResult(static_cast<std::uint32_t>(coredll::wcsncmp(a.c_str(), b.c_str(), m.Argument(2))));
}

void memset(Machine &m, const Module &)
{
    if (m.Argument(2) > kMaxBufferBytes)
        throw Fault("memset of " + std::to_string(m.Argument(2)) + " bytes; the handheld takes at most " +
                    std::to_string(kMaxBufferBytes >> 20) + " MiB");
    std::vector<std::uint8_t> bytes(m.Argument(2));
    coredll::memset(bytes.data(), static_cast<int>(m.Argument(1)), bytes.size());
    m.WriteBytes(m.Argument(0), bytes.data(), static_cast<std::uint32_t>(bytes.size()), "memset");
    m.SetResult(m.Argument(0));
}

} // namespace served

// Which ordinal each served call answers, from the core library's table.
const struct {
    std::uint16_t ordinal;
    void (*serve)(Machine &, const Module &);
} kServed[] = {
#define COREDLL_OPERATION(ordinal, name, ...) {ordinal, served::name},
#include "platform/coredll_operations.h"
};

} // namespace

bool Serves(std::uint16_t ordinal)
{
    return std::any_of(std::begin(kServed), std::end(kServed), [&](const auto &s) { return s.ordinal == ordinal; });
}

void ServeCoredll(Machine &m, const Module &module, std::uint16_t ordinal)
{
    auto call = std::find_if(std::begin(kServed), std::end(kServed), [&](const auto &s) { return s.ordinal == ordinal; });
    if (call == std::end(kServed))
        throw Fault("call to COREDLL ordinal " + std::to_string(ordinal) + ", which this handheld does not serve");
    sim::Handheld &handheld = sim::Handheld::Current();
    m.Charge(kCallInstructions + handheld.TakeWork());
    call->serve(m, module);
    m.Charge(handheld.TakeWork());
    if (handheld.registry().Full())
        throw Fault("the registry grew by more than " + std::to_string(kMaxRegistryGrowth >> 20) +
                    " MiB in this run (each new key counted by its full path)");
}

} // namespace ceimage
