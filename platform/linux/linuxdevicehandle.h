#pragma once

#include "platform/linux/directsectorreader.h"
#include "platform/linux/readat.h"
#include "platform/platform.h"
#include "platform/readahead.h"

#include <sys/types.h>

namespace velo::linux_backend
{

// Raw reads from an open block device (or any readable file descriptor), one after the
// other from offset 0. Each read moves the position by the amount asked for even when it
// fails, so that one unreadable sector costs only itself: everything after it is still
// read from where it really lies. On a block device a failed read is tried once more
// around the page cache, so that the good sectors sharing a page with a bad one are not
// lost with it.
class LinuxDeviceHandle : public DeviceHandle
{
public:
    // Takes ownership of fd. readAt stands in for pread(2) where a test needs a device
    // that fails on cue (pread on fd when none is given). retry, when given, reads again what a
    // failed read asked for.
    explicit LinuxDeviceHandle(int fd, ReadAt readAt = {},
                               std::unique_ptr<DirectSectorReader> retry = {});
    ~LinuxDeviceHandle() override;

    LinuxDeviceHandle(const LinuxDeviceHandle&) = delete;
    LinuxDeviceHandle& operator=(const LinuxDeviceHandle&) = delete;

    bool read(std::uint8_t* into, std::uint32_t byteCount,
              std::uint32_t& bytesTransferred) override;

    // The same read at byteOffset, leaving the position alone. A failure with ENODEV or
    // ENXIO (the device has gone) is Gone, and is not tried again.
    ReadAnswer readAt(std::uint8_t* into, std::uint32_t byteCount, std::uint64_t byteOffset);

    // Linux has no equivalent of the Windows device-control requests; the callers only
    // use them on the old Windows family, and treat a refusal as "not supported".
    bool control(std::uint32_t controlCode, std::span<const std::uint8_t> input,
                 std::span<std::uint8_t> output, std::uint32_t& bytesReturned,
                 std::span<std::uint8_t> callerMemory) override;

    off_t position() const { return position_; }

private:
    bool retryRest(std::uint8_t* into, std::uint32_t byteCount, std::uint64_t start,
                   std::uint32_t& bytesTransferred);

    int fd_;
    ReadAt readAt_;
    std::unique_ptr<DirectSectorReader> retry_;
    off_t position_ = 0;
};

} // namespace velo::linux_backend
