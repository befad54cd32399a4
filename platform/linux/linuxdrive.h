#pragma once

#include "platform/platform.h"

#include <string>

namespace velo
{

// One drive letter and what stands behind it on this system.
struct LinuxDrive {
    std::string letter;
    DriveType type = DriveType::Unknown;
    std::string mountPoint; // empty when no file system of it is mounted
    std::string fsType;     // empty likewise
    std::string devicePath; // "/dev/sdb1"; empty for network shares and an overlay root
    std::string sysfsName;  // "sdb1", to ask sysfs for live values; empty likewise

    DriveInfo info() const { return DriveInfo{letter, type, mountPoint}; }
};

} // namespace velo
