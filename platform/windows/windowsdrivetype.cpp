#include "platform/windows/windowsdrivetype.h"

#include <windows.h>

namespace velo::windows_backend
{

DriveType driveTypeOf(std::uint32_t windowsDriveType)
{
    switch (windowsDriveType) {
    case DRIVE_REMOVABLE:
        return DriveType::Removable;
    case DRIVE_FIXED:
        return DriveType::Fixed;
    case DRIVE_REMOTE:
        return DriveType::Network;
    case DRIVE_CDROM:
        return DriveType::CdRom;
    case DRIVE_RAMDISK:
        return DriveType::RamDisk;
    default: // DRIVE_UNKNOWN, DRIVE_NO_ROOT_DIR
        return DriveType::Unknown;
    }
}

} // namespace velo::windows_backend
