#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velo::linux_backend
{

// What sysfs says about one block device. Partitions carry their disk's removable flag,
// sector size and bus, since the kernel only publishes those on the disk.
struct BlockDevice {
    std::string name; // entry name under the block class, "sda1", "mmcblk0p1", "dm-0"
    bool hasDevNumber = false;
    unsigned major = 0;
    unsigned minor = 0;
    std::uint64_t size512 = 0;            // the kernel counts in 512-byte units
    std::uint32_t logicalBlockSize = 512; // queue/logical_block_size
    bool removable = false;
    bool hidden = false; // e.g. the per-path namespaces of multipath NVMe
    bool isPartition = false;
    std::string parent; // the disk of a partition
    bool hasPartitions = false;
    bool hasHolders = false;         // a RAID, LVM or crypt device is built on top of it
    std::vector<std::string> slaves; // what an md or dm device is built from
    bool viaUsbOrMmc = false;        // its sysfs path runs through a USB or MMC bus
    int scsiType = -1;               // device/type of SCSI devices; 5 is a CD/DVD drive
    std::string dmName;              // dm/name, the /dev/mapper name of a device-mapper device
    // What the disk calls itself, for people: vendor and model of a SCSI, USB, SATA or NVMe
    // disk, an MMC card's name, or the file behind a loop device; empty otherwise.
    std::string model;
};

// Reads the block class directory of sysfs (or a tree laid out like it, for tests):
// one entry per device, partitions both as entries and as subdirectories of their disk.
class SysfsBlock
{
public:
    explicit SysfsBlock(std::string root);

    std::vector<BlockDevice> scan() const;
    std::optional<BlockDevice> device(const std::string& name) const;

    const std::string& root() const { return root_; }

private:
    std::string root_;
};

} // namespace velo::linux_backend
