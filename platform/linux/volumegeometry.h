#pragma once

#include "platform/platform.h"

#include <cstdint>

namespace velo::linux_backend
{

// The four free-space numbers of a volume, from what Linux reports about it.
class VolumeGeometry
{
public:
    // A mounted file system: statvfs's fragment size and counts of fragments. Its
    // fragment is the cluster. When the fragment is not a whole number of sectors
    // (smaller than a sector, or a size such as 1536 on a 1024-byte-sector device) the
    // cluster is taken to be one sector and the counts are given in sectors, rounded
    // down, so that total clusters × sectors per cluster × bytes per sector is still the
    // size of the volume.
    static DiskFreeSpace mounted(std::uint64_t fragmentSize, std::uint64_t totalFragments,
                                 std::uint64_t freeFragments, std::uint32_t bytesPerSector);

    // A device with no file system mounted: the whole device in single-sector clusters,
    // none of them free. sysfs gives the size in 512-byte units whatever the sector size.
    static DiskFreeSpace unmounted(std::uint64_t size512, std::uint32_t bytesPerSector);
};

} // namespace velo::linux_backend
