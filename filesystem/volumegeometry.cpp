#include "filesystem/volumegeometry.h"

#include <bit>
#include <cstring>

namespace velo::filesystem
{

namespace
{

std::uint32_t le16(std::span<const std::uint8_t> b, std::size_t at)
{
    return std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8;
}

std::uint32_t le32(std::span<const std::uint8_t> b, std::size_t at)
{
    return le16(b, at) | le16(b, at + 2) << 16;
}

std::uint64_t le64(std::span<const std::uint8_t> b, std::size_t at)
{
    return std::uint64_t(le32(b, at)) | std::uint64_t(le32(b, at + 4)) << 32;
}

// exFAT: sizes as powers of two, the data area ("cluster heap") at a sector offset.
std::optional<VolumeGeometry> readExfat(std::span<const std::uint8_t> b, std::uint64_t volumeByte)
{
    const unsigned sectorShift = b[108];
    const unsigned clusterShift = b[109];
    if (sectorShift < 9 || sectorShift > 12 || clusterShift > 25 - sectorShift)
        return std::nullopt;
    const std::uint64_t volumeSectors = le64(b, 72);
    const std::uint64_t heapSector = le32(b, 88);
    const std::uint64_t clusters = le32(b, 92);
    const std::uint64_t clusterSectors = std::uint64_t(1) << clusterShift;
    if (clusters == 0 || heapSector == 0 || heapSector + clusters * clusterSectors > volumeSectors)
        return std::nullopt;
    VolumeGeometry g;
    g.kind = "exFAT";
    g.volumeByte = volumeByte;
    g.sectorBytes = std::uint32_t(1) << sectorShift;
    g.clusterBytes = clusterSectors << sectorShift;
    g.firstClusterByte = volumeByte + (heapSector << sectorShift);
    g.clusterCount = clusters;
    return g;
}

// FAT12/16/32: the BIOS parameter block; the kind follows from the count of clusters.
std::optional<VolumeGeometry> readFat(std::span<const std::uint8_t> b, std::uint64_t volumeByte)
{
    const std::uint32_t sectorBytes = le16(b, 11);
    const std::uint32_t clusterSectors = b[13];
    const std::uint64_t reserved = le16(b, 14);
    const std::uint64_t fats = b[16];
    const std::uint64_t rootEntries = le16(b, 17);
    const std::uint64_t totalSectors = le16(b, 19) ? le16(b, 19) : le32(b, 32);
    const std::uint64_t fatSectors = le16(b, 22) ? le16(b, 22) : le32(b, 36);
    if (sectorBytes < 512 || sectorBytes > 4096 || !std::has_single_bit(sectorBytes) ||
        clusterSectors == 0 || !std::has_single_bit(clusterSectors) || reserved == 0 || fats == 0 ||
        fatSectors == 0)
        return std::nullopt;
    const std::uint64_t rootSectors = (rootEntries * 32 + sectorBytes - 1) / sectorBytes;
    const std::uint64_t firstDataSector = reserved + fats * fatSectors + rootSectors;
    if (firstDataSector >= totalSectors)
        return std::nullopt;
    const std::uint64_t clusters = (totalSectors - firstDataSector) / clusterSectors;
    if (clusters == 0)
        return std::nullopt;
    VolumeGeometry g;
    g.kind = clusters < 4085 ? "FAT12" : clusters < 65525 ? "FAT16" : "FAT32";
    g.volumeByte = volumeByte;
    g.sectorBytes = sectorBytes;
    g.clusterBytes = std::uint64_t(clusterSectors) * sectorBytes;
    g.firstClusterByte = volumeByte + firstDataSector * sectorBytes;
    g.clusterCount = clusters;
    return g;
}

} // namespace

std::optional<VolumeGeometry> readBootSector(std::span<const std::uint8_t> b,
                                             std::uint64_t volumeByte)
{
    if (b.size() < 512 || b[510] != 0x55 || b[511] != 0xAA)
        return std::nullopt;
    if (std::memcmp(b.data() + 3, "EXFAT   ", 8) == 0)
        return readExfat(b, volumeByte);
    // A FAT boot sector starts with a jump: EB xx 90 or E9 xx xx.
    if (b[0] != 0xEB && b[0] != 0xE9)
        return std::nullopt;
    return readFat(b, volumeByte);
}

} // namespace velo::filesystem
