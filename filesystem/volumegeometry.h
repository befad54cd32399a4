#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace velo::filesystem
{

// Where a FAT or exFAT volume keeps its files' data, as its boot sector declares it. All
// positions are in bytes from the start of the source, so that a volume inside a
// partition and a sector size other than the source's need no further sums.
struct VolumeGeometry {
    std::string kind;                   // "FAT12", "FAT16", "FAT32" or "exFAT"
    std::uint64_t volumeByte = 0;       // where the volume (its boot sector) starts
    std::uint32_t sectorBytes = 0;      // the volume's own sector size
    std::uint64_t clusterBytes = 0;     // the unit in which files are laid out
    std::uint64_t firstClusterByte = 0; // where cluster 2, the first of the data area, starts
    std::uint64_t clusterCount = 0;     // clusters in the data area

    // The byte where cluster `cluster` (2 or more) starts.
    std::uint64_t clusterByte(std::uint64_t cluster) const
    {
        return firstClusterByte + (cluster - 2) * clusterBytes;
    }
    // One past the data area's last byte.
    std::uint64_t endByte() const { return firstClusterByte + clusterCount * clusterBytes; }
};

// The geometry a FAT12/16/32 or exFAT boot sector declares, read from its first 512 bytes;
// nothing when they are no such boot sector or declare a volume that cannot be (a zero
// or non-power-of-two size, a data area past the volume's end). `volumeByte` is where the
// boot sector lies on the source.
std::optional<VolumeGeometry> readBootSector(std::span<const std::uint8_t> bootSector,
                                             std::uint64_t volumeByte = 0);

} // namespace velo::filesystem
