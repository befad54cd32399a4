#include "platform/linux/readat.h"

#include <cerrno>
#include <unistd.h>

namespace velo::linux_backend
{

ReadAt preadFrom(int fd)
{
    return [fd](std::uint8_t* into, std::size_t count, std::uint64_t offset) {
        return ::pread(fd, into, count, off_t(offset));
    };
}

std::size_t readFully(const ReadAt& readAt, std::uint8_t* into, std::size_t count,
                      std::uint64_t offset, int& error)
{
    error = 0;
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = readAt(into + done, count - done, offset + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            error = errno;
        if (n <= 0)
            break;
        done += std::size_t(n);
    }
    return done;
}

} // namespace velo::linux_backend
