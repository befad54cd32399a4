#include "app/drivetable.h"

#include "app/module1.h"

namespace velo
{

int IsWin9x(Platform& platform)
{
    return platform.platformIdentifier() == kPlatformWin9x ? 1 : 0;
}

std::optional<std::string> driveTypeName(int typeCode)
{
    switch (typeCode) {
    case 0:
        return "不明";
    case 1:
        return "リムーバブルディスク";
    case 2:
        return "ハードディスク";
    case 3:
        return "ネットワークドライブ";
    case 4:
        return "CD-ROM";
    case 5:
        return "RAMディスク";
    default:
        return std::nullopt;
    }
}

std::vector<DriveRow> driveRows(Platform& platform)
{
    std::vector<DriveRow> rows;
    for (const DriveInfo& drive : platform.drives())
        rows.push_back({drive.letter, driveTypeName(drive.typeCode)});
    return rows;
}

} // namespace velo
