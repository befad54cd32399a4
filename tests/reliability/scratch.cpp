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
    writeFile(imagePath, image);
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
