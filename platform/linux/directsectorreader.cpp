#include "platform/linux/directsectorreader.h"

#include "platform/linux/blocksource.h"
#include "platform/linux/readat.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace velo::linux_backend
{

std::unique_ptr<DirectSectorReader> DirectSectorReader::forDevice(int fd)
{
    struct stat st {
    };
    if (::fstat(fd, &st) != 0 || !S_ISBLK(st.st_mode))
        return nullptr;
    // Through /proc rather than by path, so that it is the very device fd reads.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    const int direct = ::open(self.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC);
    if (direct < 0)
        return nullptr;
    struct stat again {
    };
    const std::uint32_t blockBytes = logicalSectorSize(direct);
    if (::fstat(direct, &again) != 0 || !S_ISBLK(again.st_mode) || again.st_rdev != st.st_rdev ||
        blockBytes == 0) {
        ::close(direct);
        return nullptr;
    }
    void* aligned = nullptr;
    if (::posix_memalign(&aligned, std::size_t(blockBytes), std::size_t(blockBytes)) != 0) {
        ::close(direct);
        return nullptr;
    }
    return std::unique_ptr<DirectSectorReader>(
        new DirectSectorReader(direct, blockBytes, static_cast<std::uint8_t*>(aligned)));
}

DirectSectorReader::DirectSectorReader(int fd, std::uint32_t blockBytes, std::uint8_t* aligned)
    : fd_(fd), blockBytes_(blockBytes), block_(aligned)
{
}

DirectSectorReader::~DirectSectorReader()
{
    ::close(fd_);
    std::free(block_);
}

ssize_t DirectSectorReader::readAt(std::uint8_t* into, std::size_t count, std::uint64_t offset)
{
    const std::lock_guard lock(mutex_); // one aligned buffer for every caller
    std::size_t done = 0;
    while (done < count) {
        const std::uint64_t at = offset + done;
        const std::uint64_t blockStart = at - at % blockBytes_;
        int error = 0;
        const std::size_t got = readFully(preadFrom(fd_), block_, blockBytes_, blockStart, error);
        const std::size_t skip = std::size_t(at - blockStart);
        if (got <= skip && error) {
            errno = error;
            return done > 0 ? ssize_t(done) : -1;
        }
        if (got <= skip)
            break; // the device ends here
        const std::size_t take = std::min(got - skip, count - done);
        std::memcpy(into + done, block_ + skip, take);
        done += take;
        if (got < blockBytes_)
            break;
    }
    return ssize_t(done);
}

} // namespace velo::linux_backend
