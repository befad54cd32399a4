#include "platform/linux/linuxdevicehandle.h"

#include <cerrno>
#include <unistd.h>

namespace velo::linux_backend
{

LinuxDeviceHandle::LinuxDeviceHandle(int fd, ReadAt readAt,
                                     std::unique_ptr<DirectSectorReader> retry)
    : fd_(fd), readAt_(readAt ? std::move(readAt) : ReadAt(::pread)), retry_(std::move(retry))
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
            return retry_ && retryRest(into, byteCount, start, bytesTransferred);
        }
        if (got == 0)
            break;
        bytesTransferred += static_cast<std::uint32_t>(got);
    }
    return true;
}

bool LinuxDeviceHandle::retryRest(std::uint8_t* into, std::uint32_t byteCount, off_t start,
                                  std::uint32_t& bytesTransferred)
{
    const std::uint32_t rest = byteCount - bytesTransferred;
    const ssize_t got =
        retry_->readAt(into + bytesTransferred, rest, std::uint64_t(start) + bytesTransferred);
    if (got < 0 || std::uint32_t(got) < rest)
        return false;
    bytesTransferred = byteCount;
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
