#include "platform/linux/linuxdevicehandle.h"

#include <cerrno>
#include <unistd.h>

namespace velo::linux_backend
{

LinuxDeviceHandle::LinuxDeviceHandle(int fd, ReadAt readAt,
                                     std::unique_ptr<DirectSectorReader> retry)
    : fd_(fd), readAt_(readAt ? std::move(readAt) : preadFrom(fd)), retry_(std::move(retry))
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
    const off_t start = position_;
    position_ += static_cast<off_t>(byteCount);
    const ReadAnswer answer = readAt(into, byteCount, std::uint64_t(start));
    bytesTransferred = answer.bytes;
    return answer.failure == ReadFailure::None;
}

ReadAnswer LinuxDeviceHandle::readAt(std::uint8_t* into, std::uint32_t byteCount,
                                     std::uint64_t byteOffset)
{
    // A block device may hand back less than asked near a bad area; readFully keeps
    // asking until the request is met, the device ends or a read fails.
    int error = 0;
    ReadAnswer answer;
    answer.bytes = std::uint32_t(readFully(readAt_, into, byteCount, byteOffset, error));
    if (error == ENODEV || error == ENXIO)
        answer.failure = ReadFailure::Gone;
    else if (error != 0 && !(retry_ && retryRest(into, byteCount, byteOffset, answer.bytes)))
        answer.failure = ReadFailure::Unreadable;
    return answer;
}

bool LinuxDeviceHandle::retryRest(std::uint8_t* into, std::uint32_t byteCount, std::uint64_t start,
                                  std::uint32_t& bytesTransferred)
{
    const std::uint32_t rest = byteCount - bytesTransferred;
    const ssize_t got = retry_->readAt(into + bytesTransferred, rest, start + bytesTransferred);
    if (got > 0) // the blocks before the first that failed arrived all the same
        bytesTransferred += std::uint32_t(got);
    return bytesTransferred == byteCount;
}

bool LinuxDeviceHandle::control(std::uint32_t, std::span<const std::uint8_t>,
                                std::span<std::uint8_t>, std::uint32_t& bytesReturned,
                                std::span<std::uint8_t>)
{
    bytesReturned = 0;
    return false;
}

} // namespace velo::linux_backend
