// --image on an emulated ARM processor.
#include "cli/image_program.h"

#include "cli/options.h"
#include "cli/shown.h"
#include "ceimage/cab_installer.h"
#include "ceimage/run_image.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cli {

struct LoadedImage {
    std::string path;
    ceimage::PeImage image;
};

namespace {

// The image file's bytes. It is opened once, without waiting (a FIFO
// nobody writes to opens at once), and only a regular file no larger than
// an image may be is read: a folder, a device or a FIFO is refused before
// a byte is read, as is a file too large.
std::optional<std::vector<std::uint8_t>> ReadImageFile(const std::string &path, int &status)
{
    auto refuse = [&](int code, const std::string &why) {
        std::fprintf(stderr, "sambrel: %s\n", Shown(path + ": " + why).c_str());
        status = code;
        return std::nullopt;
    };
    struct Descriptor {
        int fd;
        ~Descriptor()
        {
            if (fd >= 0)
                close(fd);
        }
    } file{open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
    struct stat st;
    if (file.fd < 0 || fstat(file.fd, &st) != 0)
        return refuse(kExitNoInput, std::string("cannot be read: ") + std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        return refuse(kExitDataError, S_ISDIR(st.st_mode) ? "not a regular file but a folder"
                                                          : "not a regular file (a device, FIFO or socket)");
    if (st.st_size > static_cast<off_t>(ceimage::kMaxImageBytes))
        return refuse(kExitDataError, "larger than an image may be (" +
                                          std::to_string(ceimage::kMaxImageBytes >> 20) + " MiB)");
    // The file may change while it is read: no more than the bound is
    // taken, and the reader refuses a file that grew past it.
    std::vector<std::uint8_t> bytes(static_cast<size_t>(st.st_size) + 1);
    size_t got = 0;
    while (got < bytes.size()) {
        ssize_t n = read(file.fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return refuse(kExitNoInput, std::string("cannot be read: ") + std::strerror(errno));
        if (n == 0)
            break;
        got += static_cast<size_t>(n);
    }
    bytes.resize(got);
    return bytes;
}

} // namespace

std::shared_ptr<LoadedImage> LoadImage(const std::string &path, int &status)
{
    std::string why;
    if (!ceimage::EmulatorAvailable(why)) { // said before anything runs
        std::fprintf(stderr, "sambrel: --image needs the ARM emulator (libunicorn), which cannot be loaded: %s\n",
                     why.c_str());
        status = kExitUnavailable;
        return nullptr;
    }
    std::optional<std::vector<std::uint8_t>> bytes = ReadImageFile(path, status);
    if (!bytes)
        return nullptr;
    std::string error;
    std::optional<ceimage::PeImage> image;
    int refused = kExitDataError;
    if (!ceimage::IsCabinet(*bytes)) {
        image = ceimage::ReadPeImage(*bytes, error);
    } else if (auto program = ceimage::ProgramInCabinet(*bytes); !program.error.empty()) {
        error = program.error; // an installation cabinet runs the program it installs
        refused = program.unavailable ? kExitUnavailable : kExitDataError;
    } else if (!(image = ceimage::ReadPeImage(program.bytes, error))) {
        error = program.member + ": " + error;
    }
    if (!image) {
        std::fprintf(stderr, "sambrel: %s\n", Shown(path + ": " + error).c_str());
        status = refused;
        return nullptr;
    }
    return std::make_shared<LoadedImage>(LoadedImage{path, std::move(*image)});
}

sim::Resources ImageResources(const LoadedImage &image) { return ceimage::ResourcesOf(image.image); }

std::optional<int> RunImage(const LoadedImage &image, Cpu cpu, std::string &fault)
{
    ceimage::RunOptions options;
    switch (cpu) { // every processor --cpu names, and no other
    case Cpu::Sa1110: options.cpu = ceimage::Cpu::Sa1110; break;
    case Cpu::Pxa255: options.cpu = ceimage::Cpu::Pxa255; break;
    }
    try {
        int code = ceimage::RunImage(image.image, options).exitCode;
        // The run's exit status is the image's own only where it cannot be
        // taken for one of sambrel's (64 and above, and 128+n for a signal).
        if (code < 0 || code >= kExitUsage) {
            fault = "the image ended with exit code " + std::to_string(code) +
                    ", which could be taken for one of sambrel's own statuses (an image's run ends with 0 to " +
                    std::to_string(kExitUsage - 1) + ")";
            return std::nullopt;
        }
        return code;
    } catch (const ceimage::Fault &e) {
        fault = e.what();
        return std::nullopt;
    }
}

} // namespace cli
