#pragma once

#include "platform/platform.h"

#include <optional>
#include <string>
#include <vector>

namespace velo
{

// The type column's text for a drive-type code; nothing for codes outside 0 to 5.
std::optional<std::string> driveTypeName(int typeCode);

// One row of the drive list: the letter as the system gives it, and its type name.
struct DriveRow {
    std::string letter;
    std::optional<std::string> typeName;
};

// The rows of the drive list, in the order the system lists its drives.
std::vector<DriveRow> driveRows(Platform& platform);

} // namespace velo
