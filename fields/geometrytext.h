#pragma once

#include "platform/platform.h"

#include <array>
#include <string>

namespace velo
{

// The seven geometry fields in the order they are written.
enum GeometryField {
    SectorsPerCluster,
    BytesPerSector,
    FreeClusters,
    TotalClusters,
    TotalBytes,
    FreeBytes,
    TotalSectors,
    GeometryFieldCount
};

// The texts of the seven geometry fields for one free-space answer; all zeros when the
// query failed. Total sectors is not among them: it is read back from the fields that
// were just written (see totalSectorsText).
std::array<std::string, GeometryFieldCount - 1>
geometryTexts(const std::optional<DiskFreeSpace>& space);

// Total sectors from the total-clusters and sectors-per-cluster fields as written.
std::string totalSectorsText(const std::string& totalClustersField,
                             const std::string& sectorsPerClusterField);

// "C" gives "C:" followed by the separator.
std::string rootPath(const std::string& driveLetter, char separator);

} // namespace velo
