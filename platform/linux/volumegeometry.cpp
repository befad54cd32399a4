#include "platform/linux/volumegeometry.h"

#include <limits>

namespace velo::linux_backend
{

namespace
{

std::int64_t clamp64(unsigned __int128 value)
{
    constexpr auto kMax = static_cast<unsigned __int128>(std::numeric_limits<std::int64_t>::max());
    return static_cast<std::int64_t>(value > kMax ? kMax : value);
}

std::uint32_t sectorOrDefault(std::uint32_t bytesPerSector)
{
    return bytesPerSector == 0 ? 512 : bytesPerSector;
}

} // namespace

DiskFreeSpace VolumeGeometry::mounted(std::uint64_t fragmentSize, std::uint64_t totalFragments,
                                      std::uint64_t freeFragments, std::uint32_t bytesPerSector)
{
    const std::uint32_t sector = sectorOrDefault(bytesPerSector);
    DiskFreeSpace space;
    space.bytesPerSector = sector;
    if (fragmentSize >= sector && fragmentSize % sector == 0) {
        space.sectorsPerCluster = clamp64(fragmentSize / sector);
        space.totalClusters = clamp64(totalFragments);
        space.freeClusters = clamp64(freeFragments);
    } else {
        space.sectorsPerCluster = 1;
        space.totalClusters =
            clamp64(static_cast<unsigned __int128>(totalFragments) * fragmentSize / sector);
        space.freeClusters =
            clamp64(static_cast<unsigned __int128>(freeFragments) * fragmentSize / sector);
    }
    return space;
}

DiskFreeSpace VolumeGeometry::unmounted(std::uint64_t size512, std::uint32_t bytesPerSector)
{
    const std::uint32_t sector = sectorOrDefault(bytesPerSector);
    DiskFreeSpace space;
    space.bytesPerSector = sector;
    space.sectorsPerCluster = 1;
    space.totalClusters = clamp64(static_cast<unsigned __int128>(size512) * 512 / sector);
    space.freeClusters = 0;
    return space;
}

} // namespace velo::linux_backend
