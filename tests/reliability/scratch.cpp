#include "tests/reliability/scratch.h"

#include <chrono>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace velo::reliability
{

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
    loop_.emplace(mountPoint / "disk", "--direct-io=off");
}

const std::string& BadSectorDevice::device() const
{
    static const std::string none;
    return loop_ ? loop_->device() : none;
}

BadSectorDevice::~BadSectorDevice()
{
    loop_.reset();
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
