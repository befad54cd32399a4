#pragma once

#include "platform/drivetype.h"

#include <cstdint>

namespace velo::windows_backend
{

// The program's drive type for what GetDriveTypeA reports. The two number the same kinds
// differently (the system counts "no root folder" as 1 and starts the real kinds at 2). A
// drive with no root folder, such as a letter substituted for a folder that has gone, is
// listed as unknown, as the system's own drive collection lists it; so is any value the
// system may add later, which means nothing in the program's numbering.
DriveType driveTypeOf(std::uint32_t windowsDriveType);

} // namespace velo::windows_backend
