// Files saved whole: outputs that get all of their bytes or none, and a
// signal that stops a save at the next block. The command's own tests take
// the same files through full disks, links, owners and killed runs.
#include "savefile/savefile.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// A folder of its own, gone with the test.
struct Folder {
    Folder() { fs::create_directory(path); }
    ~Folder() { fs::remove_all(path); }
    std::string Read(const std::string &name) const
    {
        std::ifstream in(path + "/" + name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    void Write(const std::string &name, const std::string &bytes) const
    {
        std::ofstream(path + "/" + name, std::ios::binary) << bytes;
    }
    // Files left in it, hidden ones (a new file's name) too.
    size_t Entries() const { return static_cast<size_t>(std::distance(fs::directory_iterator(path), {})); }
    std::string path = fs::temp_directory_path() / ("savefile_test." + std::to_string(getpid()));
};

// Writes count lines, one a block, then fails if told to; written says
// how many the sink took.
savefile::Writer Lines(size_t count, bool fail, size_t &written)
{
    return [=, &written](bytes::Sink &sink, std::string &error) {
        for (written = 0; written < count; ++written)
            if (!sink.Write("line\n", error))
                return false;
        if (fail)
            error = "the writer failed";
        return !fail;
    };
}

// A file gets all of its bytes or none: one whose writer fails is as it
// was (or is not made), with no new file beside it, and a pipe or a device
// gets no byte.
TEST(SaveFile, AnOutputIsWrittenWholeOrNotAtAll)
{
    Folder folder;
    folder.Write("old.reg", "old");
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    const std::string pipePath = "/proc/self/fd/" + std::to_string(pipe[1]);
    struct Case {
        std::string path;
        bool fail;
        std::string error; // empty: written
    } cases[] = {
        {folder.path + "/old.reg", true, "the writer failed"},
        {folder.path + "/new.reg", true, "the writer failed"},
        {pipePath, true, "the writer failed"},
        {"/dev/full", false, "write: No space left on device"},
        {folder.path + "/whole.reg", false, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        size_t written = 0;
        std::string error;
        EXPECT_EQ(savefile::WriteOutput(c.path, Lines(3, c.fail, written), {}, error), c.error.empty());
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(written, 3u);
    }
    close(pipe[1]);
    char byte;
    EXPECT_EQ(read(pipe[0], &byte, 1), 0) << "a byte reached the pipe";
    close(pipe[0]);
    EXPECT_EQ(folder.Read("old.reg"), "old");
    EXPECT_EQ(folder.Read("whole.reg"), "line\nline\nline\n");
    EXPECT_EQ(folder.Entries(), 2u) << "a new file stayed, or one that failed was made";
}

volatile sig_atomic_t gSignals = 0;

// A signal that comes while a file is written stops the writing at the
// next block rather than at the end, leaves the file as it was, and acts
// once the file is let go.
TEST(SaveFile, ASignalStopsASaveAtTheNextBlock)
{
    Folder folder;
    folder.Write("held.reg", "old");
    struct sigaction count {}, old {};
    count.sa_handler = [](int) { gSignals = gSignals + 1; };
    sigaction(SIGUSR1, &count, &old);
    savefile::Failure failure;
    auto file = savefile::HeldFile::Open(folder.path + "/held.reg", true, {}, failure);
    ASSERT_TRUE(file) << failure.message;
    size_t written = 0;
    auto write = [&](bytes::Sink &sink, std::string &error) {
        for (written = 0; written < 1000; ++written) {
            if (written == 2)
                raise(SIGUSR1);
            if (!sink.Write("line\n", error))
                return false;
        }
        return true;
    };
    EXPECT_FALSE(file->Replace(write, failure));
    EXPECT_EQ(failure.kind, savefile::Failure::Kind::Signalled);
    EXPECT_EQ(failure.signal, SIGUSR1);
    EXPECT_EQ(written, 2u);
    EXPECT_EQ(gSignals, 1);
    file.reset();
    sigaction(SIGUSR1, &old, nullptr);
    EXPECT_EQ(folder.Read("held.reg"), "old");
    EXPECT_EQ(folder.Entries(), 1u);
}

} // namespace
