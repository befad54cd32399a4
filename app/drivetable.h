#pragma once

#include "platform/platform.h"

#include <optional>
#include <string>
#include <vector>

namespace velo
{

// A row's tooltip: what stands behind the letter, one line each for the device, its
// size, its model and where it is mounted, leaving out what the system does not know.
// Empty when the system describes its drives no further than letter and type.
std::string driveToolTip(const DriveInfo& drive);

// One row of the drive list: the letter as the system gives it, its type name, and the
// tooltip that tells one disk from another.
struct DriveRow {
    std::string letter;
    std::optional<std::string> typeName;
    std::string toolTip;
};

// The rows of the drive list, in the order the system lists its drives.
std::vector<DriveRow> driveRows(Platform& platform);

} // namespace velo
