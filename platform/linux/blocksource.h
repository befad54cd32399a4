#pragma once

#include "platform/linux/sysfsblock.h"

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace velo::linux_backend
{

// A file by its place: the file system it lies on (st_dev) and its inode.
struct FileIdentity {
    dev_t fileSystem = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The thing being carved, open for reading only.
struct Source {
    int fd = -1;
    bool blockDevice = false;
    dev_t device = 0;     // for a block device, its own number (st_rdev)
    dev_t fileSystem = 0; // where the source's own inode lies (st_dev), with inode
    ino_t inode = 0;
    std::vector<FileIdentity> filesBehind; // for a block device, the images it reads
    std::uint64_t sizeBytes = 0;
    std::uint32_t logicalSectorSize = 512; // the device's; 512 for an image file
    std::string error;                     // one line naming the problem when fd < 0
    int errorNumber = 0;                   // and its errno
};

// Opens a disk image or block device read-only and learns its size. A folder, a pipe or
// anything else that has no size is refused.
Source openSource(const std::string& path);

// The device's logical sector size (BLKSSZGET); 0 when fd is not a block device.
std::uint32_t logicalSectorSize(int fd);

// Whether writing into folder (which need not exist yet: its nearest existing parent
// counts) would write to the block device `device` itself, to one of its partitions, or
// to a device stacked on it (LVM, dm-crypt, md).
bool writesToDevice(const std::string& folder, dev_t device,
                    const SysfsBlock& sysfs = SysfsBlock("/sys/class/block"));

// The loop devices (their numbers) whose backing file is this image.
std::vector<dev_t> loopDevicesBackedBy(const std::string& image,
                                       const SysfsBlock& sysfs = SysfsBlock("/sys/class/block"));

// The image files that reading the block device `device` reads: the backing file of a
// loop device that it is, that it is a partition of, or that it is stacked on (dm, md),
// at any depth. Writing to one of them changes what the device reads.
std::vector<FileIdentity> filesBehind(dev_t device,
                                      const SysfsBlock& sysfs = SysfsBlock("/sys/class/block"));

// Whether writing into folder writes to the device the source reads: the source is that
// device (or lies under it), or an image file attached through a loop device that holds
// the folder.
bool outputLiesOnSource(const std::string& folder, const Source& source,
                        const SysfsBlock& sysfs = SysfsBlock("/sys/class/block"));

} // namespace velo::linux_backend
