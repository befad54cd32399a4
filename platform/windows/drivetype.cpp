#include "platform/windows/drivetype.h"

#include <windows.h>

namespace velo::windows_backend
{

int driveTypeCode(std::uint32_t windowsDriveType)
{
    switch (windowsDriveType) {
    case DRIVE_REMOVABLE:
        return 1;
    case DRIVE_FIXED:
        return 2;
    case DRIVE_REMOTE:
        return 3;
    case DRIVE_CDROM:
        return 4;
    case DRIVE_RAMDISK:
        return 5;
    default: // DRIVE_UNKNOWN, DRIVE_NO_ROOT_DIR
        return 0;
    }
}

} // namespace velo::windows_backend
