#include "platform/linux/linuxdevicehandle.h"

#include <cerrno>
#include <unistd.h>

namespace velo::linux_backend
{

LinuxDeviceHandle::LinuxDeviceHandle(int fd, ReadAt readAt)
    : fd_(fd), readAt_(readAt ? std::move(readAt) : ReadAt(::pread))
{
}

LinuxDeviceHandle::~LinuxDeviceHandle()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool LinuxDeviceHandle::read(std::uint8_t* into, std::uint32_t byteCount,
                             std::uint32_t& bytesTransferred)
{
    bytesTransferred = 0;
    const off_t start = position_;
    position_ += static_cast<off_t>(byteCount);

    // A block device may hand back less than asked near a bad area; keep asking until the
    // request is met, the device ends (0) or a read fails.
    while (bytesTransferred < byteCount) {
        const ssize_t got = readAt_(fd_, into + bytesTransferred, byteCount - bytesTransferred,
                                    start + static_cast<off_t>(bytesTransferred));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (got == 0)
            break;
        bytesTransferred += static_cast<std::uint32_t>(got);
    }
    return true;
}

bool LinuxDeviceHandle::control(std::uint32_t, std::span<const std::uint8_t>,
                                std::span<std::uint8_t>, std::uint32_t& bytesReturned,
                                std::span<std::uint8_t>)
{
    bytesReturned = 0;
    return false;
}

} // namespace velo::linux_backend
