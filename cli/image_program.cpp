// --image on an emulated ARM processor.
#include "cli/image_program.h"

#include "cli/options.h"
#include "ceimage/cab_installer.h"
#include "ceimage/run_image.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace cli {

struct LoadedImage {
    std::string path;
    ceimage::PeImage image;
};

std::shared_ptr<LoadedImage> LoadImage(const std::string &path, int &status)
{
    std::string why;
    if (!ceimage::EmulatorAvailable(why)) { // said before anything runs
        std::fprintf(stderr, "sambrel: --image needs the ARM emulator (libunicorn), which cannot be loaded: %s\n",
                     why.c_str());
        status = kExitUnavailable;
        return nullptr;
    }
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes;
    if (in)
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in && !in.eof()) {
        std::fprintf(stderr, "sambrel: %s: cannot be read: %s\n", path.c_str(), std::strerror(errno));
        status = kExitNoInput;
        return nullptr;
    }
    std::string error;
    std::optional<ceimage::PeImage> image;
    int refused = kExitDataError;
    if (!ceimage::IsCabinet(bytes)) {
        image = ceimage::ReadPeImage(bytes, error);
    } else if (auto program = ceimage::ProgramInCabinet(bytes); !program.error.empty()) {
        error = program.error; // an installation cabinet runs the program it installs
        refused = program.unavailable ? kExitUnavailable : kExitDataError;
    } else if (!(image = ceimage::ReadPeImage(program.bytes, error))) {
        error = program.member + ": " + error;
    }
    if (!image) {
        std::fprintf(stderr, "sambrel: %s: %s\n", path.c_str(), error.c_str());
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
        return ceimage::RunImage(image.image, options).exitCode;
    } catch (const ceimage::Fault &e) {
        fault = e.what();
        return std::nullopt;
    }
}

} // namespace cli
