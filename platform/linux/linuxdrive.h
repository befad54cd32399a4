#pragma once

#include "platform/platform.h"

#include <string>

namespace velo
{

// One drive letter and what stands behind it on this system.
struct LinuxDrive {
    std::string letter;
    DriveType type = DriveType::Unknown;
    std::string mountPoint;      // empty when no file system of it is mounted
    std::string fsType;          // empty likewise
    std::string devicePath;      // "/dev/sdb1"; empty for network shares and an overlay root
    std::string sysfsName;       // "sdb1", to ask sysfs for live values; empty likewise
    std::string source;          // the mount's source where there is no device: "server:/photos"
    std::uint64_t sizeBytes = 0; // of the device as found at start-up; 0 when unknown
    std::string model;           // see BlockDevice::model

    DriveInfo info() const
    {
        DriveDetails details{devicePath.empty() ? source : devicePath, std::nullopt, model};
        if (sizeBytes != 0)
            details.sizeBytes = sizeBytes;
        return DriveInfo{letter, type, mountPoint, details};
    }
};

} // namespace velo
