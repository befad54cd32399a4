#include "tests/support/fakesystem.h"

#include <fcntl.h>

namespace velo::testing
{

std::vector<OpenDescriptor> descriptorsOn(const std::filesystem::path& path)
{
    std::vector<OpenDescriptor> open;
    const fs::path target = fs::canonical(path);
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (fs::read_symlink(entry.path(), ec) != target || ec)
            continue;
        const int fd = std::stoi(entry.path().filename().string());
        const int flags = ::fcntl(fd, F_GETFL), fdFlags = ::fcntl(fd, F_GETFD);
        if (flags >= 0 && fdFlags >= 0)
            open.push_back({flags & O_ACCMODE, (fdFlags & FD_CLOEXEC) != 0});
    }
    return open;
}

std::string letterOf(const LinuxPlatform& platform, const std::string& devicePath)
{
    for (const LinuxDrive& d : platform.table())
        if (d.devicePath == devicePath)
            return d.letter;
    return {};
}

FakeSystem::FakeSystem()
{
    fs::create_directories(sysBlock());
    fs::create_directories(dev());
    writeText(dir / "mountinfo", "");
    writeText(dir / "swaps", swaps_);
}

FakeSystem& FakeSystem::add(const FakeDevice& d)
{
    // Disks have a device of their own on the bus; partitions live inside their disk.
    const std::string target =
        d.parent.empty()
            ? "../../devices/" + (d.bus == kVirtual ? d.bus : d.bus + "/dev-" + d.name) +
                  "/block/" + d.name
            : fs::read_symlink(sysBlock() / d.parent).string() + "/" + d.name;
    const fs::path dir = sysBlock() / target;
    writeText(dir / "dev", std::to_string(d.major) + ":" + std::to_string(d.minor) + "\n");
    writeText(dir / "size", std::to_string(d.size512) + "\n");
    fs::create_directories(dir / "holders");
    for (const auto& holder : d.holders)
        fs::create_directory_symlink("../../" + holder, dir / "holders" / holder);
    if (!d.parent.empty()) {
        writeText(dir / "partition", "1\n");
    } else {
        writeText(dir / "removable", std::to_string(d.removable) + "\n");
        writeText(dir / "queue/logical_block_size", std::to_string(d.logicalBlockSize) + "\n");
        fs::create_directories(dir / "slaves");
        for (const auto& slave : d.slaves)
            fs::create_directory_symlink("../../" + slave, dir / "slaves" / slave);
        if (!d.dmName.empty())
            writeText(dir / "dm/name", d.dmName + "\n");
        if (!d.loopBackingFile.empty())
            writeText(dir / "loop/backing_file", d.loopBackingFile + "\n");
        if (d.bus != kVirtual)
            fs::create_directory_symlink("../..", dir / "device");
        if (d.scsiType >= 0)
            writeText(dir / "../../type", std::to_string(d.scsiType) + "\n");
        for (const auto& [file, value] :
             {std::pair{"vendor", d.vendor}, {"model", d.model}, {"name", d.mmcName}})
            if (!value.empty())
                writeText(dir / "../.." / file, value + "\n");
    }
    fs::create_directory_symlink(target, sysBlock() / d.name);
    writeText(dev() / d.name, "");
    return *this;
}

FakeSystem& FakeSystem::mount(const std::string& device, const std::string& mountPoint,
                              const std::string& fsType, const std::string& source,
                              const std::string& root)
{
    mountinfo_ += "30 1 " + device + " " + root + " " + mountPoint + " rw,relatime shared:1 - " +
                  fsType + " " + source + " rw\n";
    writeText(dir / "mountinfo", mountinfo_);
    return *this;
}

FakeSystem& FakeSystem::swap(const std::string& path)
{
    swaps_ += path + "\tpartition\t1048572\t0\t-2\n";
    writeText(dir / "swaps", swaps_);
    return *this;
}

} // namespace velo::testing
