// The frames of an image's run, both ways.
#include "cli/image_results.h"

#include "cli/exit_status.h"
#include "cli/shown.h"
#include "bytes/source_sink.h"
#include "text/codecs.h"

#include <algorithm>
#include <new>
#include <cstring>

namespace cli {
namespace {

// The frames, in the order they come: a refusal or a fault alone; or the
// outcome, the message boxes and what was printed, the registry (its
// blocks and their end, or why it cannot be written as a file and the IR
// modem entry as it would be printed), and the end.
constexpr char kRefused = 'n';  // the exit status (one byte) and why
constexpr char kFault = 'f';    // what happened
constexpr char kOutcome = 'o';  // the exit code (four bytes) and whether the registry changed (one)
constexpr char kMessage = 'm';  // the caption's length in bytes (four), caption and text in UTF-16LE
constexpr char kPrinted = 'p';  // a piece of what was printed
constexpr char kRegistry = 'R'; // a block of the registry file
constexpr char kRegistryEnd = 'E';
constexpr char kUnsavable = 'u'; // why the registry cannot be written as a file
constexpr char kIrEntry = 'i';
constexpr char kEnd = 'z';

constexpr std::size_t kPrintedPiece = 1u << 20;
// What a frame costs beyond its payload, counted against what may come:
// its header, and reading it, so that a flood of empty frames is as
// limited as one of bytes.
constexpr std::uint64_t kFrameCost = 64;
// A refusal or a fault: a sentence, with a name or two from the image.
constexpr std::size_t kMaxEnding = 64u << 10;

std::string Word(std::uint32_t v)
{
    return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
}

std::uint32_t WordAt(const std::string &s, std::size_t at)
{
    auto b = reinterpret_cast<const unsigned char *>(s.data() + at);
    return b[0] | b[1] << 8 | b[2] << 16 | std::uint32_t(b[3]) << 24;
}

std::string Utf16(const std::u16string &text)
{
    std::vector<unsigned char> bytes = text::Utf16Bytes(text, false);
    return std::string(bytes.begin(), bytes.end());
}

// The registry file's blocks, each a frame, as the writer makes them.
class FrameSink : public bytes::Sink {
public:
    explicit FrameSink(cell::FrameWriter &out) : out_(out) {}
    bool Write(std::string_view bytes, std::string &error) override
    {
        if (out_.Put(kRegistry, bytes))
            return true;
        error = "sambrel is no longer reading";
        return false;
    }

private:
    cell::FrameWriter &out_;
};

// Counts what a writer makes, and keeps none of it.
class CountingSink : public bytes::Sink {
public:
    bool Write(std::string_view bytes, std::string &) override
    {
        size += bytes.size();
        return true;
    }
    std::uint64_t size = 0;
};

// The child's next frame; false, with why, at any end.
bool NextFrame(cell::Child &child, cell::Frame &frame, std::uint64_t limit, std::string &why)
{
    if (child.Next(frame, static_cast<std::size_t>(limit), why))
        return true;
    if (why.empty())
        why = "its result ends early";
    return false;
}

// Nothing may follow the last frame.
bool AtEnd(cell::Child &child, std::string &why)
{
    cell::Frame frame;
    if (!child.Next(frame, 0, why))
        return why.empty();
    why = "its result goes on after its end";
    return false;
}

// Why the registry cannot be written as a file, as the image's process
// says: sambrel cannot tell, without the registry, and says whose word it
// is (nothing is saved either way).
std::string SaidUnsavable(const std::string &said)
{
    return "the registry the image left cannot be written as a file (its process says: " + said + ")";
}

bool Malformed(const char *what, std::string &why)
{
    why = what;
    return false;
}

// A refusal or a fault, which the run ends with.
bool TakeEnding(cell::Child &child, const cell::Frame &frame, ProgramRun &run, std::string &why)
{
    if (frame.tag == kFault) {
        run.status = kExitImageFault;
        run.error = frame.payload;
    } else if (!frame.payload.empty() && (frame.payload[0] == kExitDataError || frame.payload[0] == kExitUnavailable)) {
        run.status = frame.payload[0];
        run.error = frame.payload.substr(1);
    } else {
        return Malformed("its refusal has no status sambrel gives", why);
    }
    return AtEnd(child, why);
}

bool TakeOutcome(const cell::Frame &frame, ProgramRun &run, std::string &why)
{
    if (frame.tag != kOutcome || frame.payload.size() != 5)
        return Malformed("its result does not begin with its outcome", why);
    auto code = static_cast<std::int32_t>(WordAt(frame.payload, 0));
    if (code < 0 || code >= kExitUsage)
        return Malformed("its exit code is one that no run of an image ends with", why);
    run.result = code;
    run.changed = frame.payload[4] != 0;
    return true;
}

// The message boxes and what was printed; frame is left holding the frame
// after them.
bool TakeShown(cell::Child &child, cell::Frame &frame, ProgramRun &run, std::string &why)
{
    std::uint64_t shown = 0;
    for (;;) {
        if (!NextFrame(child, frame, kMaxShownResult - shown, why))
            return false;
        // Each box counts what keeping it costs, besides its text.
        shown += frame.payload.size() + kFrameCost + (frame.tag == kMessage ? sizeof(sim::MessageBoxRecord) : 0);
        if (shown > kMaxShownResult)
            return Malformed("its message boxes and what it printed are more than may come", why);
        if (frame.tag == kPrinted) {
            run.printed += frame.payload;
        } else if (frame.tag == kMessage) {
            const std::string &p = frame.payload;
            std::uint32_t caption = p.size() >= 4 ? WordAt(p, 0) : 1;
            if (caption % 2 || p.size() % 2 || caption > p.size() - 4)
                return Malformed("a message box in its result is not UTF-16", why);
            auto bytes = reinterpret_cast<const unsigned char *>(p.data() + 4);
            run.messages.push_back({text::FromUtf16Bytes(bytes, caption),
                                    text::FromUtf16Bytes(bytes + caption, p.size() - 4 - caption), 0});
        } else {
            return true;
        }
    }
}

// The registry's blocks, read as a file named on the command line is.
class RegistryFrames : public bytes::Source {
public:
    RegistryFrames(cell::Child &child, const ResultLimits &limits, const registry::Tree &loading, cell::Frame first)
        : child_(child), limits_(limits), loading_(loading), frame_(std::move(first)), taken_(frame_.payload.size())
    {
    }
    // No size is known before: a block, for the pieces the loader reads.
    size_t Size() const override { return regfile::kSaveBlock; }
    bool Read(char *to, size_t capacity, size_t &got, std::string &error) override
    {
        got = 0;
        // Checked as it loads, so that a tree no run could leave is never
        // held whole.
        if (loading_.Held() > limits_.held)
            return Fail("its registry holds more than a run could have left (" +
                            std::to_string(kMaxRegistryHeldGrowth >> 20) + " MiB more than it was given)",
                        error);
        while (pos_ == frame_.payload.size()) {
            if (frame_.tag == kRegistryEnd)
                return true;
            if (!Advance(error))
                return false;
        }
        got = std::min(capacity, frame_.payload.size() - pos_);
        std::memcpy(to, frame_.payload.data() + pos_, got);
        pos_ += got;
        return true;
    }
    // Why the frames could not be used; why the registry cannot be a file.
    const std::string &Failure() const { return failure_; }
    const std::string &Unsavable() const { return unsavable_; }

private:
    bool Advance(std::string &error)
    {
        std::string why;
        if (!NextFrame(child_, frame_, regfile::kSaveBlock, why))
            return Fail(why, error);
        pos_ = 0;
        taken_ += frame_.payload.size() + kFrameCost;
        if (taken_ > limits_.bytes)
            return Fail("its registry is larger than the " + std::to_string(limits_.bytes >> 20) + " MiB it may be",
                        error);
        if (frame_.tag == kUnsavable) {
            unsavable_ = SaidUnsavable(frame_.payload);
            error = unsavable_;
            return false;
        }
        if (frame_.tag != kRegistry && frame_.tag != kRegistryEnd)
            return Fail("its registry is broken off", error);
        return true;
    }
    bool Fail(std::string why, std::string &error)
    {
        failure_ = error = std::move(why);
        return false;
    }

    cell::Child &child_;
    const ResultLimits &limits_;
    const registry::Tree &loading_;
    cell::Frame frame_;
    std::uint64_t taken_;
    size_t pos_ = 0;
    std::string failure_, unsavable_;
};

bool TakeIrEntry(cell::Child &child, ProgramRun &run, std::string &why)
{
    cell::Frame frame;
    if (!NextFrame(child, frame, kMaxShownResult, why))
        return false;
    if (frame.tag != kIrEntry)
        return Malformed("its result has no IR modem entry where it should", why);
    run.irEntry = Shown(frame.payload, true);
    return true;
}

bool TakeRegistry(cell::Child &child, const ResultLimits &limits, cell::Frame &frame, ProgramRun &run,
                  std::string &why)
{
    if (frame.tag == kUnsavable) {
        run.unsavable = SaidUnsavable(frame.payload);
        return TakeIrEntry(child, run, why);
    }
    if (frame.tag != kRegistry && frame.tag != kRegistryEnd)
        return Malformed("its result has no registry where it should", why);
    if (frame.payload.size() > regfile::kSaveBlock) {
        why = cell::FrameReader::TooLarge(frame.payload.size(), regfile::kSaveBlock);
        return false;
    }
    regfile::Loaded back;
    RegistryFrames source(child, limits, back.registry, std::move(frame));
    // A file Save writes deletes nothing.
    std::optional<regfile::LoadError> fault = regfile::Load(source, back, regfile::Deletions::Refused);
    if (!source.Failure().empty())
        return Malformed(source.Failure().c_str(), why);
    if (!source.Unsavable().empty()) {
        run.unsavable = source.Unsavable();
        return TakeIrEntry(child, run, why);
    }
    if (fault) {
        why = "its registry does not load (line " + std::to_string(fault->line) + ": " + fault->message + ")";
        return false;
    }
    run.registry.Adopt(std::move(back.registry));
    run.irEntry = IrEntry(run.registry);
    return true;
}

// How the registry a run left stands to the one it was given: the core
// library's calls create keys and set values but remove neither, so every
// key and value given is still there; and whether all is as it was. And
// the bytes of the paths of the keys it made, which the handheld counts
// against what a run may grow the registry by, as sambrel does here.
struct Kept {
    bool all = true;
    bool same = true;
    std::uint64_t madePaths = 0;
};

// The paths of key (length characters, its own) and all below it, each
// made by the run.
void CountMade(const registry::RegKey &key, std::uint64_t length, Kept &kept)
{
    kept.madePaths += length * sizeof(char16_t);
    for (const registry::RegKey *sub : key.subkeys)
        CountMade(*sub, length + 1 + sub->Name().size(), kept);
}

void Compare(const registry::RegKey &given, const registry::RegKey &left, std::uint64_t length, Kept &kept)
{
    for (const registry::RegKey *key : left.subkeys)
        if (!given.FindSubkey(key->Name()))
            CountMade(*key, length + 1 + key->Name().size(), kept);
    if (given.subkeys.size() != left.subkeys.size() || given.values.size() != left.values.size() ||
        given.ClassName() != left.ClassName())
        kept.same = false;
    for (const registry::RegValue &value : given.values) {
        const registry::RegValue *now = left.FindValue(value.Name());
        if (!now) {
            kept.all = kept.same = false;
            return;
        }
        // A name keeps the spelling it was created with, whatever
        // spelling sets it again.
        if (now->Name() != value.Name()) {
            kept.all = kept.same = false;
            return;
        }
        if (now->type != value.type || now->Data() != value.Data())
            kept.same = false;
    }
    for (const registry::RegKey *key : given.subkeys) {
        const registry::RegKey *now = left.FindSubkey(key->Name());
        if (!now) {
            kept.all = kept.same = false;
            return;
        }
        if (now->Name() != key->Name()) {
            kept.all = kept.same = false;
            return;
        }
        Compare(*key, *now, length + 1 + key->Name().size(), kept);
        if (!kept.all)
            return;
    }
}

} // namespace

void SendRefusal(cell::FrameWriter &out, int status, const std::string &why)
{
    out.Put(kRefused, std::string(1, static_cast<char>(status)) + why);
}

void SendRun(cell::FrameWriter &out, const ProgramRun &run)
{
    if (run.status) {
        out.Put(kFault, run.error);
        return;
    }
    if (!out.Put(kOutcome, Word(static_cast<std::uint32_t>(run.result)) + static_cast<char>(run.changed)))
        return;
    for (const auto &box : run.messages) {
        std::string caption = Utf16(box.caption);
        if (!out.Put(kMessage, Word(static_cast<std::uint32_t>(caption.size())) + caption + Utf16(box.text)))
            return;
    }
    for (std::size_t at = 0; at < run.printed.size(); at += kPrintedPiece)
        if (!out.Put(kPrinted, std::string_view(run.printed).substr(at, kPrintedPiece)))
            return;
    FrameSink sink(out);
    std::string why;
    if (regfile::Save(run.registry.tree(), kResultFormat, sink, why)) {
        out.Put(kRegistryEnd, "");
    } else if (out.Put(kUnsavable, why)) {
        out.Put(kIrEntry, run.irEntry);
    }
    out.Put(kEnd, "");
}

bool TakeRun(cell::Child &child, const ResultLimits &limits, ProgramRun &run, std::string &why)
{
    try {
        cell::Frame frame;
        if (!NextFrame(child, frame, kMaxEnding, why))
            return false;
        if (frame.tag == kRefused || frame.tag == kFault)
            return TakeEnding(child, frame, run, why);
        if (!TakeOutcome(frame, run, why) || !TakeShown(child, frame, run, why) ||
            !TakeRegistry(child, limits, frame, run, why) || !NextFrame(child, frame, 0, why))
            return false;
        if (frame.tag != kEnd)
            return Malformed("its result does not end where it should", why);
        return AtEnd(child, why);
    } catch (const std::bad_alloc &) {
        return Malformed("its result is more than sambrel has the memory to hold", why);
    }
}

bool KeptFrom(const registry::Tree &given, const ResultLimits &limits, const ProgramRun &run, std::string &why)
{
    if (!run.unsavable.empty()) // no registry came: nothing of it will be saved
        return true;
    Kept kept;
    const registry::Tree &left = run.registry.tree();
    for (registry::Root root : registry::AllRoots()) {
        Compare(given.RootKey(root), left.RootKey(root), std::strlen(registry::RootName(root)), kept);
        if (!kept.all)
            return Malformed("its registry has lost keys or values it was given, or spells their names otherwise, "
                             "which the core library's calls cannot do", why);
    }
    if (!run.changed && !kept.same)
        return Malformed("its registry has changed where its outcome says it has not", why);
    if (left.Held() + kept.madePaths > limits.held) {
        const std::string grown = "its registry has grown by more than a run could grow it (its memory and the paths "
                                  "of the keys it made over " + std::to_string(kMaxRegistryHeldGrowth >> 20) + " MiB)";
        return Malformed(grown.c_str(), why);
    }
    return true;
}

ResultLimits LimitsFor(const registry::Tree &given)
{
    CountingSink sink;
    std::string why;
    regfile::Save(given, kResultFormat, sink, why);
    return {sink.size + kMaxRegistryGrowthResult, given.Held() + kMaxRegistryHeldGrowth};
}

} // namespace cli
