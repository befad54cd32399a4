#include "app/drivetable.h"

#include "app/module1.h"

namespace velo
{

int IsWin9x(Platform& platform)
{
    return platform.platformIdentifier() == kPlatformWin9x ? 1 : 0;
}

std::vector<DriveRow> driveRows(Platform& platform)
{
    std::vector<DriveRow> rows;
    for (const DriveInfo& drive : platform.drives()) {
        DriveRow& row = rows.emplace_back(DriveRow{drive.letter, std::nullopt});
        if (const auto name = driveTypeName(drive.type))
            row.typeName = std::string(*name);
    }
    return rows;
}

} // namespace velo
