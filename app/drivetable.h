#pragma once

#include "platform/platform.h"

#include <optional>
#include <string>
#include <vector>

namespace velo
{

// One row of the drive list: the letter as the system gives it, and its type name.
struct DriveRow {
    std::string letter;
    std::optional<std::string> typeName;
};

// The rows of the drive list, in the order the system lists its drives.
std::vector<DriveRow> driveRows(Platform& platform);

} // namespace velo
