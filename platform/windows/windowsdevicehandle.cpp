#include "platform/windows/windowsdevicehandle.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <windows.h>
#include <winioctl.h>

namespace velo::windows_backend
{

namespace
{
// A page: a multiple of every sector size in use (512, 2048 for CDs, 4096).
constexpr std::size_t kBufferAlignment = 4096;
} // namespace

ReadAt readFileAt(void* handle)
{
    return [handle](std::uint8_t* into, std::uint32_t byteCount, std::uint64_t offset,
                    std::uint32_t& bytesRead) {
        OVERLAPPED at{};
        at.Offset = DWORD(offset);
        at.OffsetHigh = DWORD(offset >> 32);
        DWORD got = 0;
        const BOOL ok = ::ReadFile(static_cast<HANDLE>(handle), into, byteCount, &got, &at);
        bytesRead = got;
        // A positioned read that starts at or beyond the end reports this instead of
        // success with nothing read.
        return ok != 0 || ::GetLastError() == ERROR_HANDLE_EOF;
    };
}

void WindowsDeviceHandle::AlignedFree::operator()(std::uint8_t* p) const
{
    ::operator delete[](p, std::align_val_t(kBufferAlignment));
}

WindowsDeviceHandle::WindowsDeviceHandle(void* handle, std::uint32_t alignmentBytes, ReadAt reader)
    : handle_(handle), alignment_(alignmentBytes == 0 ? 1 : alignmentBytes),
      readAt_(reader ? std::move(reader) : readFileAt(handle))
{
}

WindowsDeviceHandle::~WindowsDeviceHandle()
{
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE)
        ::CloseHandle(static_cast<HANDLE>(handle_));
}

bool WindowsDeviceHandle::read(std::uint8_t* into, std::uint32_t byteCount,
                               std::uint32_t& bytesTransferred)
{
    const std::uint64_t start = position_;
    position_ += byteCount;
    return readAt(into, byteCount, start, bytesTransferred);
}

bool WindowsDeviceHandle::readAt(std::uint8_t* into, std::uint32_t byteCount, std::uint64_t start,
                                 std::uint32_t& bytesTransferred)
{
    bytesTransferred = 0;
    if (byteCount == 0)
        return true;
    if (alignment_ == 1) // a plain file: straight into the caller's buffer
        return readAt_(into, byteCount, start, bytesTransferred);

    // Whole sectors around the request.
    const std::uint64_t first = start / alignment_ * alignment_;
    const std::uint64_t end = start + byteCount;
    const std::uint64_t last = (end + alignment_ - 1) / alignment_ * alignment_;
    const std::uint64_t spanBytes = last - first;
    if (spanBytes > std::numeric_limits<std::uint32_t>::max())
        return false; // more than one ReadFile can carry

    if (bounceBytes_ < spanBytes) {
        const std::size_t bytes =
            (spanBytes + kBufferAlignment - 1) / kBufferAlignment * kBufferAlignment;
        bounce_.reset(static_cast<std::uint8_t*>(
            ::operator new[](bytes, std::align_val_t(kBufferAlignment))));
        bounceBytes_ = bytes;
    }

    std::uint32_t got = 0;
    if (!readAt_(bounce_.get(), std::uint32_t(spanBytes), first, got))
        return false;
    // Only what really arrived counts; near the end of the device that may be short of the
    // request, or stop before it starts.
    const std::uint64_t skip = start - first;
    const std::uint64_t usable = got > skip ? std::min<std::uint64_t>(got - skip, byteCount) : 0;
    std::memcpy(into, bounce_.get() + skip, std::size_t(usable));
    bytesTransferred = std::uint32_t(usable);
    return true;
}

bool WindowsDeviceHandle::control(std::uint32_t controlCode, std::span<const std::uint8_t> input,
                                  std::span<std::uint8_t> output, std::uint32_t& bytesReturned,
                                  std::span<std::uint8_t>)
{
    DWORD returned = 0;
    const BOOL ok = ::DeviceIoControl(static_cast<HANDLE>(handle_), controlCode,
                                      const_cast<std::uint8_t*>(input.data()), DWORD(input.size()),
                                      output.data(), DWORD(output.size()), &returned, nullptr);
    bytesReturned = returned;
    return ok != 0;
}

bool meansDeviceGone(std::uint32_t systemError)
{
    switch (systemError) {
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_NO_MEDIA_IN_DRIVE:
        return true;
    default:
        return false;
    }
}

PositionedRead positionedRead(WindowsDeviceHandle& handle)
{
    return [&handle](std::uint8_t* into, std::uint32_t byteCount, std::uint64_t byteOffset) {
        ::SetLastError(ERROR_SUCCESS); // a reader that fails without a reason is not "gone"
        ReadAnswer answer;
        if (!handle.readAt(into, byteCount, byteOffset, answer.bytes))
            answer.failure =
                meansDeviceGone(::GetLastError()) ? ReadFailure::Gone : ReadFailure::Unreadable;
        return answer;
    };
}

std::optional<std::uint32_t> deviceSectorBytes(void* handle)
{
    DISK_GEOMETRY geometry{};
    DWORD returned = 0;
    if (!::DeviceIoControl(static_cast<HANDLE>(handle), IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0,
                           &geometry, sizeof geometry, &returned, nullptr) ||
        returned < sizeof geometry || geometry.BytesPerSector == 0)
        return std::nullopt;
    return std::uint32_t(geometry.BytesPerSector);
}

} // namespace velo::windows_backend
