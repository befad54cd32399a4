#pragma once

#include "platform/platform.h"
#include "platform/readahead.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace velo::windows_backend
{

// Reads like ReadFile at an offset: false when the read failed, otherwise bytesRead says
// how much came (0 at the end). Tests hand in one that fails, or that refuses unaligned
// requests as Windows does.
using ReadAt = std::function<bool(std::uint8_t* into, std::uint32_t byteCount, std::uint64_t offset,
                                  std::uint32_t& bytesRead)>;

// ReadFile at an explicit offset on handle (the file position is neither used nor
// trusted). Reading at or past the end is a success that reads nothing.
ReadAt readFileAt(void* handle);

// An open device or file on Windows. Reads are positioned: the handle keeps its own
// position and moves it on by the size asked for, whether the read worked or not. A
// failed ReadFile leaves the system's file position where it was (seen under Wine), so
// trusting that position would read the bad sector again and shift every later one.
//
// A volume opened as "\\.\X:" is read uncached, and Windows refuses any read of it whose
// offset, length or buffer address is not a multiple of the sector size. Every request
// is therefore widened to whole sectors, read into a buffer of this handle's own that is
// aligned to a page, and copied out. Under Wine a volume is an ordinary file of the host
// and accepts any read, so only a test that hands in a refusing ReadAt can catch a
// misaligned request.
class WindowsDeviceHandle : public DeviceHandle
{
public:
    // Takes ownership of handle (a Win32 HANDLE) and closes it. alignmentBytes is the
    // device's sector size: 1 for a plain file. reader defaults to readFileAt(handle).
    WindowsDeviceHandle(void* handle, std::uint32_t alignmentBytes, ReadAt reader = {});
    ~WindowsDeviceHandle() override;
    WindowsDeviceHandle(const WindowsDeviceHandle&) = delete;
    WindowsDeviceHandle& operator=(const WindowsDeviceHandle&) = delete;

    bool read(std::uint8_t* into, std::uint32_t byteCount,
              std::uint32_t& bytesTransferred) override;

    // Reads up to byteCount bytes at byteOffset, whole aligned sectors underneath; the
    // handle's position stays where it is. bytesTransferred is less than byteCount only at
    // the end of the device.
    bool readAt(std::uint8_t* into, std::uint32_t byteCount, std::uint64_t byteOffset,
                std::uint32_t& bytesTransferred);

    // DeviceIoControl as it is. The register block of the VWIN32 device holds the
    // buffer's address itself, which is whole only in a 32-bit build, the one build that
    // can meet that device; callerMemory is therefore not needed here.
    bool control(std::uint32_t controlCode, std::span<const std::uint8_t> input,
                 std::span<std::uint8_t> output, std::uint32_t& bytesReturned,
                 std::span<std::uint8_t> callerMemory) override;

    std::uint32_t alignmentBytes() const { return alignment_; }

private:
    struct AlignedFree {
        void operator()(std::uint8_t* p) const;
    };

    void* handle_;
    std::uint32_t alignment_;
    ReadAt readAt_;
    std::uint64_t position_ = 0;
    std::unique_ptr<std::uint8_t, AlignedFree> bounce_;
    std::size_t bounceBytes_ = 0;
};

// Whether a failed read's system error (GetLastError) says that the device itself has
// gone (a card reader unplugged, the card taken out) rather than that a sector is bad.
bool meansDeviceGone(std::uint32_t systemError);

// handle's readAt as a ReadAhead reads it: a failure is Gone when meansDeviceGone.
PositionedRead positionedRead(WindowsDeviceHandle& handle);

// The sector size of the disk behind a volume or disk handle, or nothing when the
// device does not say (a plain file, or a device under Wine).
std::optional<std::uint32_t> deviceSectorBytes(void* handle);

} // namespace velo::windows_backend
