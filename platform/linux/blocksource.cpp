#include "platform/linux/blocksource.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <linux/fs.h>
#include <set>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace velo::linux_backend
{

Source openSource(const std::string& path)
{
    Source s;
    // errorNumber: what errno says, or for a refusal of ours the errno closest to it.
    auto fail = [&](const std::string& why, int errorNumber) {
        if (s.fd >= 0)
            ::close(s.fd);
        s.fd = -1;
        s.error = "cannot open " + path + ": " + why;
        s.errorNumber = errorNumber;
        return s;
    };
    auto failWithErrno = [&] {
        const int errorNumber = errno;
        return fail(std::strerror(errorNumber), errorNumber);
    };

    // O_NONBLOCK keeps a FIFO given by mistake from hanging the open; it is refused below.
    s.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (s.fd < 0)
        return failWithErrno();
    struct stat st {
    };
    if (::fstat(s.fd, &st) != 0)
        return failWithErrno();
    s.fileSystem = st.st_dev;
    s.inode = st.st_ino;
    if (S_ISDIR(st.st_mode))
        return fail("Is a directory", EISDIR);

    if (S_ISBLK(st.st_mode)) {
        s.blockDevice = true;
        s.device = st.st_rdev;
        std::uint64_t size = 0;
        if (::ioctl(s.fd, BLKGETSIZE64, &size) != 0)
            return failWithErrno();
        if (const std::uint32_t sectorSize = logicalSectorSize(s.fd))
            s.logicalSectorSize = sectorSize;
        s.sizeBytes = size;
        s.filesBehind = filesBehind(s.device);
    } else if (S_ISREG(st.st_mode)) {
        s.sizeBytes = std::uint64_t(st.st_size);
    } else {
        return fail("not a disk image or block device", EINVAL);
    }

    // Blocking reads from here on; the kernel may read ahead aggressively.
    ::fcntl(s.fd, F_SETFL, ::fcntl(s.fd, F_GETFL) & ~O_NONBLOCK);
    ::posix_fadvise(s.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return s;
}

std::uint32_t logicalSectorSize(int fd)
{
    int size = 0;
    return ::ioctl(fd, BLKSSZGET, &size) == 0 && size > 0 ? std::uint32_t(size) : 0;
}

namespace
{

dev_t numberOf(const BlockDevice& d)
{
    return makedev(d.major, d.minor);
}

// The names of the devices with this number (one, unless sysfs is odd).
std::set<std::string> namesOf(dev_t device, const std::vector<BlockDevice>& all)
{
    std::set<std::string> names;
    for (const BlockDevice& d : all)
        if (d.hasDevNumber && numberOf(d) == device)
            names.insert(d.name);
    return names;
}

// The device, its partitions and whatever is stacked on either, recursively.
std::set<dev_t> builtOn(dev_t device, const std::vector<BlockDevice>& all)
{
    std::set<std::string> names = namesOf(device, all);
    for (bool grew = !names.empty(); grew;) {
        grew = false;
        for (const BlockDevice& d : all) {
            const bool on = names.count(d.parent) ||
                            std::any_of(d.slaves.begin(), d.slaves.end(),
                                        [&](const std::string& s) { return names.count(s) > 0; });
            if (on && names.insert(d.name).second)
                grew = true;
        }
    }
    std::set<dev_t> numbers{device};
    for (const BlockDevice& d : all)
        if (d.hasDevNumber && names.count(d.name))
            numbers.insert(numberOf(d));
    return numbers;
}

} // namespace

bool writesToDevice(const std::string& folder, dev_t device, const SysfsBlock& sysfs)
{
    namespace fs = std::filesystem;
    fs::path p = fs::absolute(folder);
    struct stat st {
    };
    while (::stat(p.c_str(), &st) != 0) {
        if (!p.has_parent_path() || p.parent_path() == p)
            return false;
        p = p.parent_path();
    }
    return st.st_dev == device || builtOn(device, sysfs.scan()).count(st.st_dev) > 0;
}

std::vector<FileIdentity> filesBehind(dev_t device, const SysfsBlock& sysfs)
{
    const std::vector<BlockDevice> all = sysfs.scan();
    std::set<std::string> names = namesOf(device, all);
    // Downwards: a partition reads its disk, a stacked device the devices it is made of.
    for (bool grew = !names.empty(); grew;) {
        grew = false;
        for (const BlockDevice& d : all) {
            if (!names.count(d.name))
                continue;
            if (!d.parent.empty() && names.insert(d.parent).second)
                grew = true;
            for (const std::string& slave : d.slaves)
                if (names.insert(slave).second)
                    grew = true;
        }
    }
    std::vector<FileIdentity> files;
    for (const BlockDevice& d : all) {
        struct stat backing {
        };
        if (names.count(d.name) && !d.loopBackingFile.empty() &&
            ::stat(d.loopBackingFile.c_str(), &backing) == 0)
            files.push_back({backing.st_dev, backing.st_ino});
    }
    return files;
}

std::vector<dev_t> loopDevicesBackedBy(const std::string& image, const SysfsBlock& sysfs)
{
    std::vector<dev_t> found;
    struct stat imageStat {
    };
    if (::stat(image.c_str(), &imageStat) != 0)
        return found;
    for (const BlockDevice& d : sysfs.scan()) {
        struct stat backing {
        };
        if (d.hasDevNumber && !d.loopBackingFile.empty() &&
            ::stat(d.loopBackingFile.c_str(), &backing) == 0 &&
            backing.st_dev == imageStat.st_dev && backing.st_ino == imageStat.st_ino)
            found.push_back(numberOf(d));
    }
    return found;
}

bool outputLiesOnSource(const std::string& folder, const Source& source, const SysfsBlock& sysfs)
{
    if (source.blockDevice)
        return writesToDevice(folder, source.device, sysfs);
    for (const dev_t loop :
         loopDevicesBackedBy("/proc/self/fd/" + std::to_string(source.fd), sysfs))
        if (writesToDevice(folder, loop, sysfs))
            return true;
    return false;
}

} // namespace velo::linux_backend
