#include "platform/linux/drivediscovery.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <map>
#include <optional>
#include <set>

namespace velo::linux_backend
{

namespace
{

constexpr int kScsiTypeCdRom = 5;

bool isDigit(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// "sr0" but not "srx"; kernel names are a fixed prefix followed by an index.
bool hasIndexedPrefix(std::string_view name, std::string_view prefix)
{
    return name.size() > prefix.size() && name.starts_with(prefix) && isDigit(name[prefix.size()]);
}

class DeviceIndex
{
public:
    explicit DeviceIndex(const std::vector<BlockDevice>& devices)
    {
        for (const auto& device : devices) {
            byName_[device.name] = &device;
            if (device.hasDevNumber)
                byNumber_[{device.major, device.minor}] = &device;
            if (!device.dmName.empty())
                byMapperName_[device.dmName] = &device;
        }
    }

    const BlockDevice* byName(const std::string& name) const
    {
        const auto it = byName_.find(name);
        return it == byName_.end() ? nullptr : it->second;
    }

    const BlockDevice* byNumber(unsigned major, unsigned minor) const
    {
        const auto it = byNumber_.find({major, minor});
        return it == byNumber_.end() ? nullptr : it->second;
    }

    // "/dev/sdb1", "/dev/mapper/vg-home", "/dev/cciss/c0d0" (sysfs writes '/' as '!').
    const BlockDevice* byPath(std::string_view path, const std::string& devRoot) const
    {
        for (const std::string_view prefix :
             {std::string_view(devRoot), std::string_view("/dev")}) {
            if (prefix.empty() || !path.starts_with(prefix) || path.size() <= prefix.size() + 1 ||
                path[prefix.size()] != '/')
                continue;
            std::string rest(path.substr(prefix.size() + 1));
            if (rest.starts_with("mapper/")) {
                const auto it = byMapperName_.find(rest.substr(7));
                if (it != byMapperName_.end())
                    return it->second;
                continue;
            }
            std::replace(rest.begin(), rest.end(), '/', '!');
            if (const auto* device = byName(rest))
                return device;
        }
        return nullptr;
    }

private:
    std::map<std::string, const BlockDevice*> byName_;
    std::map<std::pair<unsigned, unsigned>, const BlockDevice*> byNumber_;
    std::map<std::string, const BlockDevice*> byMapperName_;
};

bool looksRemovable(const BlockDevice& device, const DeviceIndex& index, int depth)
{
    if (device.removable || device.viaUsbOrMmc || hasIndexedPrefix(device.name, "mmcblk") ||
        hasIndexedPrefix(device.name, "fd"))
        return true;
    // An encrypted or LVM volume on a USB stick is as removable as the stick.
    if (depth < 8) {
        for (const auto& slave : device.slaves) {
            if (const auto* below = index.byName(slave);
                below && looksRemovable(*below, index, depth + 1))
                return true;
        }
    }
    return false;
}

DriveType typeOf(const BlockDevice& device, const DeviceIndex& index)
{
    if (hasIndexedPrefix(device.name, "sr") || device.scsiType == kScsiTypeCdRom)
        return DriveType::CdRom;
    if (hasIndexedPrefix(device.name, "ram") || hasIndexedPrefix(device.name, "zram") ||
        hasIndexedPrefix(device.name, "pmem"))
        return DriveType::RamDisk;
    if (looksRemovable(device, index, 0))
        return DriveType::Removable;
    return DriveType::Fixed;
}

// Among the places a device is mounted, the one that shows all of it (not a bind mount of
// a subdirectory or of a single file), and of those the shortest path, then the first.
const MountEntry* preferredMount(const std::vector<const MountEntry*>& mounts)
{
    const MountEntry* best = nullptr;
    for (const auto* mount : mounts) {
        if (!best) {
            best = mount;
            continue;
        }
        const bool wholeBest = best->root == "/";
        const bool wholeThis = mount->root == "/";
        if (wholeThis != wholeBest) {
            if (wholeThis)
                best = mount;
            continue;
        }
        if (mount->mountPoint.size() < best->mountPoint.size())
            best = mount;
    }
    return best;
}

std::string devicePathFor(const std::string& devRoot, std::string name)
{
    std::replace(name.begin(), name.end(), '!', '/');
    return devRoot + "/" + name;
}

} // namespace

bool DriveDiscovery::isNetworkFileSystem(std::string_view fsType)
{
    // FUSE file systems are named "fuse.<program>"; these are the programs that reach
    // over the network. 9p is how virtual machines and WSL see their host's folders.
    static constexpr std::array<std::string_view, 19> kNetwork = {
        "nfs",        "nfs4",       "cifs",        "smb3",      "smbfs",          "ncpfs",
        "afs",        "coda",       "ceph",        "glusterfs", "lustre",         "9p",
        "davfs",      "fuse.sshfs", "fuse.rclone", "fuse.s3fs", "fuse.glusterfs", "fuse.curlftpfs",
        "fuse.davfs2"};
    return std::find(kNetwork.begin(), kNetwork.end(), fsType) != kNetwork.end();
}

bool DriveDiscovery::nameLess(std::string_view a, std::string_view b)
{
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            std::size_t ei = i, ej = j;
            while (ei < a.size() && isDigit(a[ei]))
                ++ei;
            while (ej < b.size() && isDigit(b[ej]))
                ++ej;
            // Compare the numbers without leading zeros: first by length, then digit by digit.
            std::string_view na = a.substr(i, ei - i), nb = b.substr(j, ej - j);
            while (na.size() > 1 && na.front() == '0')
                na.remove_prefix(1);
            while (nb.size() > 1 && nb.front() == '0')
                nb.remove_prefix(1);
            if (na.size() != nb.size())
                return na.size() < nb.size();
            if (na != nb)
                return na < nb;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    if ((a.size() - i) != (b.size() - j))
        return a.size() - i < b.size() - j;
    return a < b; // equal as numbers ("sd01" vs "sd1"): fall back to a plain comparison
}

std::vector<LinuxDrive> DriveDiscovery::discover(const std::vector<MountEntry>& mounts,
                                                 const std::vector<BlockDevice>& devices,
                                                 const std::vector<std::string>& swapPaths,
                                                 const std::string& devRoot)
{
    const DeviceIndex index(devices);

    std::set<std::string> swapDevices;
    for (const auto& path : swapPaths) {
        if (const auto* device = index.byPath(path, devRoot))
            swapDevices.insert(device->name);
    }

    // The mount at "/" that is visible is the last one: later mounts cover earlier ones.
    const MountEntry* rootMount = nullptr;
    std::map<std::string, std::vector<const MountEntry*>> deviceMounts;
    std::map<std::string, const MountEntry*> networkMounts; // by mount point
    // Mounts of block devices that sysfs does not show (a container with a partial /sys):
    // still drives, but nothing is known about their kind.
    std::map<std::pair<unsigned, unsigned>, std::vector<const MountEntry*>> unknownMounts;
    for (const auto& mount : mounts) {
        if (mount.mountPoint == "/")
            rootMount = &mount;
        const BlockDevice* device =
            mount.major != 0 ? index.byNumber(mount.major, mount.minor) : nullptr;
        // btrfs and a few others report an anonymous device number; their source names
        // the device instead.
        if (!device)
            device = index.byPath(mount.source, devRoot);
        if (device)
            deviceMounts[device->name].push_back(&mount);
        else if (isNetworkFileSystem(mount.fsType))
            networkMounts[mount.mountPoint] = &mount;
        else if (mount.major != 0 && mount.source.starts_with("/dev/"))
            unknownMounts[{mount.major, mount.minor}].push_back(&mount);
    }

    std::vector<LinuxDrive> fixedLetters; // C, A, B
    std::vector<LinuxDrive> others;       // D onwards, in this order

    std::string rootDevice;
    if (rootMount) {
        const auto it = std::find_if(deviceMounts.begin(), deviceMounts.end(), [&](const auto& dm) {
            return std::find(dm.second.begin(), dm.second.end(), rootMount) != dm.second.end();
        });
        const auto unknown = unknownMounts.find({rootMount->major, rootMount->minor});
        if (it != deviceMounts.end()) {
            rootDevice = it->first;
        } else if (unknown != unknownMounts.end()) {
            LinuxDrive drive;
            drive.letter = "C";
            drive.type = DriveType::Unknown;
            drive.mountPoint = "/";
            drive.fsType = rootMount->fsType;
            drive.devicePath = rootMount->source;
            fixedLetters.push_back(drive);
            unknownMounts.erase(unknown);
        } else {
            // Not a block device: an overlay in a container, tmpfs, zfs, an NFS root.
            LinuxDrive drive;
            drive.letter = "C";
            drive.type =
                isNetworkFileSystem(rootMount->fsType) ? DriveType::Network : DriveType::Fixed;
            drive.mountPoint = "/";
            drive.fsType = rootMount->fsType;
            drive.source = rootMount->source;
            fixedLetters.push_back(drive);
            networkMounts.erase("/");
        }
    }

    std::vector<const BlockDevice*> ordered;
    for (const auto& device : devices)
        ordered.push_back(&device);
    std::sort(ordered.begin(), ordered.end(), [](const BlockDevice* a, const BlockDevice* b) {
        return nameLess(a->name, b->name);
    });

    for (const auto* device : ordered) {
        if (device->hidden || device->size512 == 0 || device->hasHolders ||
            swapDevices.count(device->name) != 0)
            continue;
        const auto mountsIt = deviceMounts.find(device->name);
        const bool mounted = mountsIt != deviceMounts.end();
        // A disk that is split into partitions is offered through its partitions.
        if (!mounted && !device->isPartition && device->hasPartitions)
            continue;

        LinuxDrive drive;
        drive.type = typeOf(*device, index);
        drive.devicePath = devicePathFor(devRoot, device->name);
        drive.sysfsName = device->name;
        drive.sizeBytes = device->size512 * 512;
        drive.model = device->model;
        if (mounted) {
            const MountEntry* mount = preferredMount(mountsIt->second);
            drive.mountPoint = mount->mountPoint;
            drive.fsType = mount->fsType;
        }

        if (device->name == rootDevice) {
            drive.letter = "C";
            drive.mountPoint = "/";
            drive.fsType = rootMount->fsType;
            fixedLetters.push_back(drive);
        } else if (device->name == "fd0" || device->name == "fd1") {
            drive.letter = device->name == "fd0" ? "A" : "B";
            fixedLetters.push_back(drive);
        } else {
            others.push_back(drive);
        }
    }

    for (const auto& [number, entries] : unknownMounts) {
        const MountEntry* mount = preferredMount(entries);
        LinuxDrive drive;
        drive.type = DriveType::Unknown;
        drive.mountPoint = mount->mountPoint;
        drive.fsType = mount->fsType;
        drive.devicePath = mount->source;
        others.push_back(drive);
    }

    for (const auto& [mountPoint, mount] : networkMounts) {
        LinuxDrive drive;
        drive.type = DriveType::Network;
        drive.mountPoint = mountPoint;
        drive.fsType = mount->fsType;
        drive.source = mount->source;
        others.push_back(drive);
    }

    std::vector<LinuxDrive> drives = std::move(fixedLetters);
    char letter = 'D';
    for (auto& drive : others) {
        if (letter > 'Z')
            break;
        drive.letter = std::string(1, letter++);
        drives.push_back(std::move(drive));
    }
    std::sort(drives.begin(), drives.end(),
              [](const LinuxDrive& a, const LinuxDrive& b) { return a.letter < b.letter; });
    return drives;
}

} // namespace velo::linux_backend
