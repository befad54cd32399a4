#include "fields/geometrytext.h"

#include "fields/fieldtext.h"

namespace velo
{

std::array<std::string, GeometryFieldCount - 1>
geometryTexts(const std::optional<DiskFreeSpace>& space)
{
    const DiskFreeSpace g = space.value_or(DiskFreeSpace{});
    // 128-bit products: three 64-bit values can outgrow 64 bits, and the totals are
    // written in full whatever their size.
    using Wide = __int128;
    return {fieldText(g.sectorsPerCluster),
            fieldText(g.bytesPerSector),
            fieldText(g.freeClusters),
            fieldText(g.totalClusters),
            fieldText(Wide(g.totalClusters) * g.sectorsPerCluster * g.bytesPerSector),
            fieldText(Wide(g.freeClusters) * g.sectorsPerCluster * g.bytesPerSector)};
}

std::string totalSectorsText(const std::string& totalClustersField,
                             const std::string& sectorsPerClusterField)
{
    return fieldText(__int128(fieldNumber(totalClustersField)) *
                     fieldNumber(sectorsPerClusterField));
}

std::string rootPath(const std::string& driveLetter, char separator)
{
    return driveLetter + ":" + separator;
}

} // namespace velo
