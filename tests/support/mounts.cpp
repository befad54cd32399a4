#include "tests/support/mounts.h"

#include <cstdio>
#include <unistd.h>

namespace velo::testing
{

namespace
{
// The first line a shell command prints, without its newline; empty when it fails.
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
// A kernel without the vfat driver (a container's) may still mount FAT in user space.
// umount ends it as it ends a kernel mount.
bool fuseFat(const std::string& image, bool writable, const fs::path& at)
{
    return run("fusefat " + std::string(writable ? "-o rw+ " : "") + image + " " + at.string() +
               " >/dev/null 2>&1") == 0;
}
} // namespace

Mount::Mount(const std::string& source, const std::string& type, const std::string& options,
             fs::path where)
    : at(std::move(where))
{
    fs::create_directories(at);
    if (::geteuid() != 0)
        why = "needs root to mount";
    else if (run("mount -t " + type + " -o " + options + " " + source + " " + at.string()) == 0)
        mounted = true;
    else if (type == "vfat" && fuseFat(source, options.find("ro") == std::string::npos, at))
        mounted = true;
    else
        why = "this machine does not allow a " + type + " mount";
}

Mount::~Mount()
{
    if (mounted)
        run("umount " + at.string());
}

LoopMount::LoopMount(std::uint64_t bytes, const std::string& fsType, bool readOnly)
    : mountPoint_(dir_.path / "mnt")
{
    const fs::path image = dir_.path / "fs.img";
    const std::string mkfs = fsType == "vfat" ? "mkfs.vfat" : "mkfs.ext2 -q -F -m 0";
    if (run("truncate -s " + std::to_string(bytes) + " " + image.string()) != 0 ||
        run(mkfs + " " + image.string()) != 0) {
        why_ = "cannot make a " + fsType + " image (mkfs missing?)";
        return;
    }
    // -o loop lets mount pick the loop device and free it again at unmount.
    mount_.emplace(image.string(), fsType, std::string("loop") + (readOnly ? ",ro" : ""),
                   mountPoint_);
}

ReadOnlyLoopDevice::ReadOnlyLoopDevice(const fs::path& image, const std::string& options)
{
    if (::geteuid() != 0) {
        why_ = "needs root for a loop device";
        return;
    }
    device_ =
        firstLineOf("losetup -r -f --show " + options + " " + image.string() + " 2>/dev/null");
    if (device_.empty())
        why_ = "this machine does not allow loop devices";
}

ReadOnlyLoopDevice::~ReadOnlyLoopDevice()
{
    if (!device_.empty())
        run("losetup -d " + device_);
}

} // namespace velo::testing
