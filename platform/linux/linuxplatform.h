#pragma once

#include "platform/linux/linuxdrive.h"
#include "platform/platform.h"

#include <mutex>
#include <string>
#include <vector>

namespace velo
{

// The platform services on Linux. Drives are the volumes a user could mean (mounted file
// systems, network shares, and block devices with nothing mounted, such as a memory card
// whose file system is too damaged to mount), named with letters as on Windows so that
// the rest of the program need not know the difference.
class LinuxPlatform : public Platform
{
public:
    // The sources are parameters so that tests can hand in a made-up system.
    explicit LinuxPlatform(std::string mountinfoPath = "/proc/self/mountinfo",
                           std::string sysBlockRoot = "/sys/class/block",
                           std::string devRoot = "/dev", std::string swapsPath = "/proc/swaps");

    std::uint32_t platformIdentifier() override;
    std::vector<DriveInfo> drives() override;
    std::optional<DiskFreeSpace> diskFreeSpace(const std::string& rootPath) override;
    std::unique_ptr<DeviceHandle> openDevice(const std::string& deviceName) override;
    std::string programFolder() override;
    char pathSeparator() const override;
    bool createFolder(const std::string& path) override;
    std::unique_ptr<OutputFolder> openOutputFolder(const std::string& path) override;
    bool folderLiesOnDrive(const std::string& folder, const std::string& driveLetter) override;

    // The drive table, in letter order. Worked out on first use and then kept: the
    // program lists drives once at start-up, and letters must not move under it.
    const std::vector<LinuxDrive>& table() const;

    // The drive with this letter (either case), or nullptr.
    const LinuxDrive* drive(char letter) const;

private:
    std::string mountinfoPath_;
    std::string sysBlockRoot_;
    std::string devRoot_;
    std::string swapsPath_;

    mutable std::once_flag tableOnce_;
    mutable std::vector<LinuxDrive> table_;
};

} // namespace velo
