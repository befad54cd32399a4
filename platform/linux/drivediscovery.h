#pragma once

#include "platform/linux/linuxdrive.h"
#include "platform/linux/mountinfo.h"
#include "platform/linux/sysfsblock.h"

#include <string>
#include <string_view>
#include <vector>

namespace velo::linux_backend
{

// Turns the mount table and the block devices into drive letters, in the order a user of
// drive-letter systems expects: C for the system volume, A and B for floppies, D onwards
// for everything else, network shares last. The drive list names volumes by letter, so a
// familiar order is what lets a user tell the system disk from the card at a glance.
//
// Pure: no file is read here, so every rule can be checked against made-up systems.
class DriveDiscovery
{
public:
    static std::vector<LinuxDrive> discover(const std::vector<MountEntry>& mounts,
                                            const std::vector<BlockDevice>& devices,
                                            const std::vector<std::string>& swapPaths,
                                            const std::string& devRoot);

    static bool isNetworkFileSystem(std::string_view fsType);

    // Device-name order with runs of digits compared as numbers, so that "loop9" comes
    // before "loop10" and the letters do not jump about as devices are added.
    static bool nameLess(std::string_view a, std::string_view b);
};

} // namespace velo::linux_backend
