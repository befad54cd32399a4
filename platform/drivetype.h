#pragma once

#include <optional>
#include <string_view>

namespace velo
{

// The kind of a drive, by the codes the system's drive list reports. A system may report
// a code outside these six; it is carried through unchanged and has no name.
enum class DriveType : int {
    Unknown = 0,
    Removable = 1,
    Fixed = 2,
    Network = 3,
    CdRom = 4,
    RamDisk = 5,
};

// The drive list's type column for each kind; nothing for a code outside the six.
constexpr std::optional<std::string_view> driveTypeName(DriveType type)
{
    switch (type) {
    case DriveType::Unknown:
        return "不明";
    case DriveType::Removable:
        return "リムーバブルディスク";
    case DriveType::Fixed:
        return "ハードディスク";
    case DriveType::Network:
        return "ネットワークドライブ";
    case DriveType::CdRom:
        return "CD-ROM";
    case DriveType::RamDisk:
        return "RAMディスク";
    }
    return std::nullopt;
}

} // namespace velo
