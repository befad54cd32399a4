#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>

namespace velo::cli
{

// The thing being carved, open for reading only.
struct Source {
    int fd = -1;
    bool blockDevice = false;
    dev_t device = 0;     // for a block device, its own number (st_rdev)
    dev_t fileSystem = 0; // where the source's own inode lies (st_dev), with inode
    ino_t inode = 0;
    std::uint64_t sizeBytes = 0;
    std::uint32_t logicalSectorSize = 512; // the device's; 512 for an image file
    std::string error;                     // one line naming the problem when fd < 0
};

// Opens a disk image or block device read-only and learns its size. A folder, a pipe or
// anything else that has no size is refused.
Source openSource(const std::string& path);

} // namespace velo::cli
