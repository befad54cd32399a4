#include "platform/linux/linuxplatform.h"

#include "platform/linux/blocksource.h"
#include "platform/linux/drivediscovery.h"
#include "platform/linux/linuxdevicehandle.h"
#include "platform/linux/linuxoutputfolder.h"
#include "platform/linux/mountinfo.h"
#include "platform/linux/swaplist.h"
#include "platform/linux/sysfsblock.h"
#include "platform/linux/volumegeometry.h"
#include "platform/readahead.h"

#include <cctype>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace velo
{

using namespace linux_backend;

namespace
{

// Files under /proc report a size of 0, so read until the end rather than by size.
std::string readWholeFile(const std::string& path)
{
    std::ifstream in(path);
    std::ostringstream text;
    if (in)
        text << in.rdbuf();
    return text.str();
}

bool isLetter(char c)
{
    return std::isalpha(static_cast<unsigned char>(c)) != 0;
}

} // namespace

LinuxPlatform::LinuxPlatform(std::string mountinfoPath, std::string sysBlockRoot,
                             std::string devRoot, std::string swapsPath)
    : mountinfoPath_(std::move(mountinfoPath)), sysBlockRoot_(std::move(sysBlockRoot)),
      devRoot_(std::move(devRoot)), swapsPath_(std::move(swapsPath))
{
}

const std::vector<LinuxDrive>& LinuxPlatform::table() const
{
    std::call_once(tableOnce_, [this] {
        table_ = DriveDiscovery::discover(
            MountInfo::parse(readWholeFile(mountinfoPath_)), SysfsBlock(sysBlockRoot_).scan(),
            SwapList::parseDevices(readWholeFile(swapsPath_)), devRoot_);
    });
    return table_;
}

const LinuxDrive* LinuxPlatform::drive(char letter) const
{
    if (!isLetter(letter))
        return nullptr;
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    for (const auto& entry : table()) {
        if (entry.letter.size() == 1 && entry.letter[0] == upper)
            return &entry;
    }
    return nullptr;
}

std::uint32_t LinuxPlatform::platformIdentifier()
{
    return kPlatformNt;
}

std::vector<DriveInfo> LinuxPlatform::drives()
{
    std::vector<DriveInfo> result;
    for (const auto& entry : table())
        result.push_back(entry.info());
    return result;
}

std::optional<DiskFreeSpace> LinuxPlatform::diskFreeSpace(const std::string& rootPath)
{
    if (rootPath.size() != 3 || rootPath[1] != ':' || (rootPath[2] != '/' && rootPath[2] != '\\'))
        return std::nullopt;
    const LinuxDrive* entry = drive(rootPath[0]);
    if (!entry)
        return std::nullopt;

    // Read live each time: a card can be swapped or a volume filled while we run.
    std::optional<BlockDevice> device;
    if (!entry->sysfsName.empty()) {
        device = SysfsBlock(sysBlockRoot_).device(entry->sysfsName);
        if (!device) // gone since start-up
            return std::nullopt;
    }
    const std::uint32_t sectorSize = device ? device->logicalBlockSize : 512;

    if (!entry->mountPoint.empty()) {
        struct statvfs info {
        };
        if (::statvfs(entry->mountPoint.c_str(), &info) != 0)
            return std::nullopt;
        const std::uint64_t fragment = info.f_frsize != 0 ? info.f_frsize : info.f_bsize;
        return VolumeGeometry::mounted(fragment, info.f_blocks, info.f_bavail, sectorSize);
    }
    // An empty card reader reports size 0; like Windows with no medium, that is "not ready".
    if (!device || device->size512 == 0)
        return std::nullopt;
    return VolumeGeometry::unmounted(device->size512, sectorSize);
}

std::unique_ptr<DeviceHandle> LinuxPlatform::openDevice(const std::string& deviceName)
{
    // Exactly "\\.\X:". Everything else, "\\.\VWIN32" included, belongs to Windows alone.
    if (deviceName.size() != 6 || deviceName.compare(0, 4, "\\\\.\\") != 0 || deviceName[5] != ':')
        return nullptr;
    const LinuxDrive* entry = drive(deviceName[4]);
    if (!entry || entry->devicePath.empty())
        return nullptr;
    // Read-only, always: this program must never be the thing that damages a card.
    const int fd = ::open(entry->devicePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    auto handle =
        std::make_unique<LinuxDeviceHandle>(fd, ReadAt{}, DirectSectorReader::forDevice(fd));
    // The scan asks for one sector at a time; the system is asked for a block at a time.
    LinuxDeviceHandle* const reader = handle.get();
    return std::make_unique<ReadAheadDevice>(
        std::move(handle), [reader](std::uint8_t* into, std::uint32_t count, std::uint64_t at) {
            return reader->readAt(into, count, at);
        });
}

std::string LinuxPlatform::programFolder()
{
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return {};
    // The root folder keeps its one separator; any other loses its trailing one.
    return exe.parent_path().string();
}

char LinuxPlatform::pathSeparator() const
{
    return '/';
}

bool LinuxPlatform::createFolder(const std::string& path)
{
    return ::mkdir(path.c_str(), 0777) == 0;
}

std::unique_ptr<OutputFolder> LinuxPlatform::openOutputFolder(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    return std::make_unique<LinuxOutputFolder>(fd);
}

bool LinuxPlatform::folderLiesOnDrive(const std::string& folder, const std::string& driveLetter)
{
    // The device that openDevice reads: a drive without one (a network share) is never
    // read, so nothing saved can overwrite it.
    const LinuxDrive* entry = driveLetter.size() == 1 ? drive(driveLetter[0]) : nullptr;
    if (!entry || entry->devicePath.empty())
        return false;
    struct stat device {
    };
    if (::stat(entry->devicePath.c_str(), &device) != 0 || !S_ISBLK(device.st_mode))
        return false;
    return writesToDevice(folder, device.st_rdev, SysfsBlock(sysBlockRoot_));
}

} // namespace velo
