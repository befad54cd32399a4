#pragma once

#include "platform/linux/linuxplatform.h"
#include "tests/support/files.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace velo::testing
{

// A descriptor this process holds open.
struct OpenDescriptor {
    int accessMode; // O_RDONLY, O_WRONLY or O_RDWR
    bool closeOnExec;
    bool operator==(const OpenDescriptor&) const = default;
};

// Every descriptor this process holds on `path`, as /proc/self/fd shows them.
std::vector<OpenDescriptor> descriptorsOn(const std::filesystem::path& path);

// The letter a platform gave the device at `devicePath`, or empty.
std::string letterOf(const LinuxPlatform& platform, const std::string& devicePath);

// Where a disk hangs in the device tree, as its sysfs path shows it.
inline const std::string kSata = "pci0000:00/0000:00:17.0/ata1/host0/target0:0:0";
inline const std::string kUsb = "pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0";
inline const std::string kMmc = "platform/fe320000.mmc/mmc_host/mmc0";
inline const std::string kVirtual = "virtual";

// A disk, or a partition when parent names its disk (bus, flags and slaves are then unused).
struct FakeDevice {
    std::string name{};
    std::string parent{};
    unsigned major = 8;
    unsigned minor = 0;
    std::uint64_t size512 = 2048;
    std::string bus = kSata;
    int removable = 0;
    std::uint32_t logicalBlockSize = 512;
    int scsiType = -1; // no device/type file when negative
    std::vector<std::string> holders{};
    std::vector<std::string> slaves{};
    std::string dmName{};
    std::string vendor{}; // device/vendor and device/model, padded as SCSI pads them
    std::string model{};
    std::string mmcName{};         // device/name of an MMC card
    std::string loopBackingFile{}; // loop/backing_file of a loop device
};

// A made-up machine: a sysfs block tree laid out as the kernel lays it out (class entries
// are symlinks into the device tree, partitions sit inside their disk), a mount table, a
// swap list and a /dev of regular files standing in for device nodes.
class FakeSystem
{
public:
    FakeSystem();
    FakeSystem& add(const FakeDevice& device);
    // One mountinfo line; mountPoint and source are written as given, escapes included.
    FakeSystem& mount(const std::string& device, const std::string& mountPoint,
                      const std::string& fsType, const std::string& source,
                      const std::string& root = "/");
    FakeSystem& swap(const std::string& path);

    // A platform that sees this machine instead of the real one; P is LinuxPlatform or a
    // class built on it with the same constructor.
    template <typename P = LinuxPlatform> P platform() const
    {
        return P((dir / "mountinfo").string(), sysBlock().string(), dev().string(),
                 (dir / "swaps").string());
    }
    std::filesystem::path sysBlock() const { return dir / "sys/class/block"; }
    std::filesystem::path dev() const { return dir / "dev"; }

    ScratchDir dir;

private:
    std::string mountinfo_;
    std::string swaps_ = "Filename\tType\tSize\tUsed\tPriority\n";
};

} // namespace velo::testing
