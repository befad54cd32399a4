#include "cli/source.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velo::cli
{

Source openSource(const std::string& path)
{
    Source s;
    auto fail = [&](const std::string& why) {
        if (s.fd >= 0)
            ::close(s.fd);
        s.fd = -1;
        s.error = "cannot open " + path + ": " + why;
        return s;
    };

    // O_NONBLOCK keeps a FIFO given by mistake from hanging the open; it is refused below.
    s.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (s.fd < 0)
        return fail(std::strerror(errno));
    struct stat st {
    };
    if (::fstat(s.fd, &st) != 0)
        return fail(std::strerror(errno));
    s.fileSystem = st.st_dev;
    s.inode = st.st_ino;
    if (S_ISDIR(st.st_mode))
        return fail("Is a directory");

    if (S_ISBLK(st.st_mode)) {
        s.blockDevice = true;
        s.device = st.st_rdev;
        std::uint64_t size = 0;
        int sectorSize = 0;
        if (::ioctl(s.fd, BLKGETSIZE64, &size) != 0)
            return fail(std::strerror(errno));
        if (::ioctl(s.fd, BLKSSZGET, &sectorSize) == 0 && sectorSize > 0)
            s.logicalSectorSize = std::uint32_t(sectorSize);
        s.sizeBytes = size;
    } else if (S_ISREG(st.st_mode)) {
        s.sizeBytes = std::uint64_t(st.st_size);
    } else {
        return fail("not a disk image or block device");
    }

    // Blocking reads from here on; the kernel may read ahead aggressively.
    ::fcntl(s.fd, F_SETFL, ::fcntl(s.fd, F_GETFL) & ~O_NONBLOCK);
    ::posix_fadvise(s.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return s;
}

} // namespace velo::cli
