#include "platform/linux/readat.h"

#include <unistd.h>

namespace velo::linux_backend
{

ReadAt preadFrom(int fd)
{
    return [fd](std::uint8_t* into, std::size_t count, std::uint64_t offset) {
        return std::int64_t(::pread(fd, into, count, off_t(offset)));
    };
}

} // namespace velo::linux_backend
