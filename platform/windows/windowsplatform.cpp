#include "platform/windows/windowsplatform.h"

#include "platform/windows/windowsdevicehandle.h"
#include "platform/windows/windowsdrivetype.h"
#include "platform/windows/windowsoutputfolder.h"
#include "platform/windows/windowssource.h"

#include <cctype>
#include <windows.h>

namespace velo
{

using namespace windows_backend;

namespace
{

bool isVolumeName(const std::string& name)
{
    return name.size() == 6 && name.compare(0, 4, "\\\\.\\") == 0 &&
           std::isalpha(static_cast<unsigned char>(name[4])) && name[5] == ':';
}

bool isVwin32Name(const std::string& name)
{
    if (name.size() != 10 || name.compare(0, 4, "\\\\.\\") != 0)
        return false;
    for (std::size_t i = 4; i < name.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(name[i])) != "\\\\.\\VWIN32"[i])
            return false;
    }
    return true;
}

// The system's name for the device behind a letter ("\Device\HarddiskVolume3"): the first
// of the names QueryDosDeviceA gives, which reads only the system's own table.
std::string deviceBehind(const std::string& letter)
{
    char names[1024] = {};
    if (::QueryDosDeviceA((letter + ":").c_str(), names, sizeof names) == 0)
        return {};
    return names;
}

std::optional<DriveDetails> detailsOf(const std::string& letter, UINT type)
{
    DriveDetails details;
    details.device = deviceBehind(letter);
    if (type == DRIVE_FIXED || type == DRIVE_RAMDISK) {
        ULARGE_INTEGER total{};
        if (::GetDiskFreeSpaceExA((letter + ":\\").c_str(), nullptr, &total, nullptr))
            details.sizeBytes = total.QuadPart;
    }
    if (details.device.empty() && !details.sizeBytes)
        return std::nullopt;
    return details;
}

} // namespace

std::uint32_t WindowsPlatform::platformIdentifier()
{
    // The ANSI record, 148 bytes. Newer systems may refuse the query; the record then
    // stays zero, which is not the 95/98/Me family.
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    ::GetVersionExA(&version);
    return version.dwPlatformId;
}

std::vector<DriveInfo> WindowsPlatform::drives()
{
    std::vector<DriveInfo> result;
    const DWORD present = ::GetLogicalDrives();
    for (int i = 0; i < 26; ++i) {
        if ((present & (DWORD(1) << i)) == 0)
            continue;
        const std::string letter(1, char('A' + i));
        const std::string root = letter + ":\\";
        const UINT type = ::GetDriveTypeA(root.c_str());
        result.push_back({letter, driveTypeOf(type), type == DRIVE_NO_ROOT_DIR ? "" : root,
                          detailsOf(letter, type)});
    }
    return result;
}

std::optional<DiskFreeSpace> WindowsPlatform::diskFreeSpace(const std::string& rootPath)
{
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
    if (!::GetDiskFreeSpaceA(rootPath.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters,
                             &totalClusters))
        return std::nullopt;
    return DiskFreeSpace{sectorsPerCluster, bytesPerSector, freeClusters, totalClusters};
}

std::unique_ptr<DeviceHandle> WindowsPlatform::openDevice(const std::string& deviceName)
{
    const bool volume = isVolumeName(deviceName);
    if (!volume && !isVwin32Name(deviceName))
        return nullptr;
    // Read access only: this program must never be the thing that damages a card.
    HANDLE device =
        ::CreateFileA(deviceName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE)
        return nullptr;
    // Volume reads must cover whole sectors of the disk. When the disk does not say its
    // sector size, 512 bytes is the size the scan itself will most likely ask for.
    if (!volume)
        return std::make_unique<WindowsDeviceHandle>(device, 1);
    auto handle =
        std::make_unique<WindowsDeviceHandle>(device, deviceSectorBytes(device).value_or(512));
    // The scan asks for one sector at a time; the system is asked for a block at a time.
    PositionedRead reads = positionedRead(*handle);
    return std::make_unique<ReadAheadDevice>(std::move(handle), std::move(reads));
}

std::string WindowsPlatform::programFolder()
{
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameA(nullptr, path.data(), DWORD(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2); // cut short: try again with more room
    }
    const auto cut = path.find_last_of('\\');
    if (cut == std::string::npos)
        return {};
    // The root folder keeps its one separator ("C:\"); any other loses its trailing one.
    return path.substr(0, cut == 2 && path[1] == ':' ? cut + 1 : cut);
}

char WindowsPlatform::pathSeparator() const
{
    return '\\';
}

bool WindowsPlatform::createFolder(const std::string& path)
{
    return ::CreateDirectoryA(path.c_str(), nullptr) != 0;
}

std::unique_ptr<OutputFolder> WindowsPlatform::openOutputFolder(const std::string& path)
{
    return WindowsOutputFolder::open(path);
}

bool WindowsPlatform::folderLiesOnDrive(const std::string& folder, const std::string& driveLetter)
{
    return driveLetter.size() == 1 &&
           windows_backend::writesToSourceVolume(folder, "\\\\.\\" + driveLetter + ":");
}

} // namespace velo
