#pragma once

#include "platform/platform.h"

namespace velo
{

// The platform services on Windows, each through the system call the program has always
// used: GetVersionExA, GetLogicalDrives and GetDriveTypeA, GetDiskFreeSpaceA, CreateFileA
// with ReadFile and DeviceIoControl, GetModuleFileNameA. Paths and names are ANSI text.
class WindowsPlatform : public Platform
{
public:
    std::uint32_t platformIdentifier() override;
    // Every letter the system reports, in letter order, as "A" to "Z" with its type and
    // "X:\" as its root folder (empty for a drive that has no root folder). Details are
    // only what costs no visit to the drive: the system's device name behind the letter,
    // and the size of a fixed disk or RAM disk. Asking a removable drive, a CD drive or a
    // share for its size would wait on the medium or the network, or ask for a disk.
    std::vector<DriveInfo> drives() override;
    std::optional<DiskFreeSpace> diskFreeSpace(const std::string& rootPath) override;
    // Only "\\.\X:" (a volume) and "\\.\VWIN32" are opened, read-only, exactly as named;
    // anything else is refused.
    std::unique_ptr<DeviceHandle> openDevice(const std::string& deviceName) override;
    std::string programFolder() override;
    char pathSeparator() const override;
    bool createFolder(const std::string& path) override;
    // See windows_backend::WindowsOutputFolder.
    std::unique_ptr<OutputFolder> openOutputFolder(const std::string& path) override;
    // The volume of "\\.\X:" and the one that holds the folder are compared.
    bool folderLiesOnDrive(const std::string& folder, const std::string& driveLetter) override;
};

} // namespace velo
