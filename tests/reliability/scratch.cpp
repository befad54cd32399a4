#include "tests/reliability/scratch.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace velo::reliability
{

namespace fs = std::filesystem;

Volume::Volume(std::size_t sectors, std::size_t sectorBytes_)
    : sectorBytes(sectorBytes_), bytes(sectors * sectorBytes_)
{
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = std::uint8_t(0x20 + (i * 7 + i / sectorBytes) % 0x5F); // never 00, D9, FF
}

void Volume::stream(std::size_t first, std::size_t last, std::size_t endAt)
{
    std::uint8_t* s = &bytes[first * sectorBytes];
    s[0] = 0xFF, s[1] = 0xD8, s[2] = 0xFF;
    std::uint8_t* e = &bytes[last * sectorBytes + endAt];
    e[0] = 0xFF, e[1] = 0xD9;
    std::fill(e + 2, e + 13, 0x00);
}

Bytes Volume::sector(std::size_t i) const
{
    return Bytes(bytes.begin() + std::ptrdiff_t(i * sectorBytes),
                 bytes.begin() + std::ptrdiff_t((i + 1) * sectorBytes));
}

std::map<std::uint64_t, Bytes> modelFiles(const Volume& v, const std::vector<std::size_t>& read,
                                          const std::map<std::size_t, std::size_t>& lengths)
{
    testing::NaiveCarve model;
    for (std::size_t i : read) {
        Bytes s = v.sector(i);
        if (const auto it = lengths.find(i); it != lengths.end())
            s.resize(it->second);
        model.sector(s);
    }
    return model.files;
}

std::vector<std::size_t> range(std::size_t first, std::size_t end, std::set<std::size_t> except)
{
    std::vector<std::size_t> r;
    for (std::size_t i = first; i < end; ++i)
        if (!except.count(i))
            r.push_back(i);
    return r;
}

std::string outputName(std::uint64_t number)
{
    char text[32];
    std::snprintf(text, sizeof text, "DD%03llu.JPG", static_cast<unsigned long long>(number));
    return text;
}

ScratchDir::ScratchDir()
{
    char name[] = "/tmp/velo-reliability-XXXXXX";
    if (!::mkdtemp(name))
        std::abort();
    path = name;
}

ScratchDir::~ScratchDir()
{
    std::error_code ec;
    fs::remove_all(path, ec);
}

Bytes readFileBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void writeFileBytes(const fs::path& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

int run(const std::string& command)
{
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

LoopMount::LoopMount(std::uint64_t bytes, const std::string& fsType, bool readOnly)
{
    if (::geteuid() != 0) {
        why_ = "needs root to mount";
        return;
    }
    const fs::path image = dir_.path / "fs.img";
    mountPoint_ = dir_.path / "mnt";
    fs::create_directory(mountPoint_);
    const std::string mkfs = fsType == "vfat" ? "mkfs.vfat" : "mkfs.ext2 -q -F -m 0";
    if (run("truncate -s " + std::to_string(bytes) + " " + image.string()) != 0 ||
        run(mkfs + " " + image.string()) != 0) {
        why_ = "cannot make a " + fsType + " image (mkfs missing?)";
        return;
    }
    // -o loop lets mount pick the loop device and free it again at unmount.
    const std::string options = std::string("loop") + (readOnly ? ",ro" : "");
    if (run("mount -t " + fsType + " -o " + options + " " + image.string() + " " +
            mountPoint_.string()) != 0) {
        why_ = "this machine does not allow loop mounts";
        return;
    }
    mounted_ = true;
    ok_ = true;
}

LoopMount::~LoopMount()
{
    if (mounted_)
        run("umount " + mountPoint_.string());
}

ReadOnlyLoopDevice::ReadOnlyLoopDevice(const fs::path& image)
{
    if (::geteuid() != 0) {
        why_ = "needs root for a loop device";
        return;
    }
    const std::string command = "losetup -r -f --show " + image.string() + " 2>/dev/null";
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) {
        why_ = "cannot run losetup";
        return;
    }
    char line[256] = {};
    const bool got = std::fgets(line, sizeof line, p) != nullptr;
    const int status = ::pclose(p);
    if (!got || status != 0) {
        why_ = "this machine does not allow loop devices";
        return;
    }
    device_ = line;
    while (!device_.empty() && (device_.back() == '\n' || device_.back() == ' '))
        device_.pop_back();
}

ReadOnlyLoopDevice::~ReadOnlyLoopDevice()
{
    if (!device_.empty())
        run("losetup -d " + device_);
}

namespace
{

// The first line a command prints, without its newline; empty when it fails.
std::string firstLineOf(const std::string& command)
{
    FILE* p = ::popen(command.c_str(), "r");
    if (!p)
        return {};
    char line[256] = {};
    const bool got = std::fgets(line, sizeof line, p) != nullptr;
    if (::pclose(p) != 0 || !got)
        return {};
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

} // namespace

BadSectorDevice::BadSectorDevice(const Bytes& image, const std::string& badSectors)
{
    if (::geteuid() != 0) {
        why_ = "needs root for FUSE and loop devices";
        return;
    }
    if (::access("/dev/fuse", R_OK | W_OK) != 0) {
        why_ = "this machine has no /dev/fuse";
        return;
    }
    const fs::path imagePath = dir_.path / "image", mountPoint = dir_.path / "mnt";
    writeFileBytes(imagePath, image);
    fs::create_directory(mountPoint);

    std::string program = VELO_BADSECTORFS;
    std::vector<std::string> args{program, imagePath.string(), badSectors, mountPoint.string()};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        why_ = "cannot start " + program;
        return;
    }
    server_ = pid;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::error_code ec;
    while (!fs::exists(mountPoint / "disk", ec)) {
        if (std::chrono::steady_clock::now() > deadline ||
            ::waitpid(server_, nullptr, WNOHANG) == server_) {
            why_ = "the test file system did not mount (FUSE unavailable?)";
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    mounted_ = true;
    // --direct-io=off: the loop device reads the file as a disk is read, through the
    // page cache of the block device, whole pages at a time.
    device_ = firstLineOf("losetup -r -f --show --direct-io=off " + (mountPoint / "disk").string() +
                          " 2>/dev/null");
    if (device_.empty())
        why_ = "this machine does not allow loop devices";
}

BadSectorDevice::~BadSectorDevice()
{
    if (!device_.empty())
        run("losetup -d " + device_);
    // The loop device lets go of the file a moment after it is detached.
    const std::string mountPoint = (dir_.path / "mnt").string();
    for (int tries = 0; mounted_ && tries < 100; ++tries) {
        mounted_ = run("umount " + mountPoint) != 0;
        if (mounted_)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (mounted_)
        run("umount -l " + mountPoint);
    if (server_ > 0) {
        ::kill(server_, SIGTERM);
        ::waitpid(server_, nullptr, 0);
    }
}

} // namespace velo::reliability
