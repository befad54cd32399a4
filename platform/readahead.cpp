#include "platform/readahead.h"

#include <cstring>

namespace velo
{

ReadAhead::ReadAhead(PositionedRead device, std::uint32_t blockBytes)
    : device_(std::move(device)), blockBytes_(blockBytes)
{
}

bool ReadAhead::read(std::uint8_t* into, std::uint32_t byteCount, std::uint64_t byteOffset,
                     std::uint32_t& bytesTransferred)
{
    bytesTransferred = 0;
    const std::uint64_t end = byteOffset + byteCount;
    if (byteCount == 0 || byteCount > blockBytes_)
        return !gone_ && readAlone(into, byteCount, byteOffset, bytesTransferred);

    if (!gone_ && (byteOffset < blockStart_ || end > blockEnd_)) {
        block_.resize(blockBytes_);
        const ReadAnswer answer = device_(block_.data(), blockBytes_, byteOffset);
        blockStart_ = byteOffset;
        blockEnd_ = byteOffset + blockBytes_;
        blockGood_ = byteOffset + answer.bytes;
        gone_ = answer.failure == ReadFailure::Gone;
    }
    // What arrived before a failure is served, even from a device that has gone since.
    if (byteOffset >= blockStart_ && end <= blockGood_) {
        std::memcpy(into, block_.data() + (byteOffset - blockStart_), byteCount);
        bytesTransferred = byteCount;
        return true;
    }
    return !gone_ && readAlone(into, byteCount, byteOffset, bytesTransferred);
}

bool ReadAhead::readAlone(std::uint8_t* into, std::uint32_t byteCount, std::uint64_t byteOffset,
                          std::uint32_t& bytesTransferred)
{
    const ReadAnswer answer = device_(into, byteCount, byteOffset);
    bytesTransferred = answer.bytes;
    gone_ = answer.failure == ReadFailure::Gone;
    return answer.failure == ReadFailure::None;
}

ReadAheadDevice::ReadAheadDevice(std::unique_ptr<DeviceHandle> handle, PositionedRead device,
                                 std::uint32_t blockBytes)
    : handle_(std::move(handle)), readAhead_(std::move(device), blockBytes)
{
}

bool ReadAheadDevice::read(std::uint8_t* into, std::uint32_t byteCount,
                           std::uint32_t& bytesTransferred)
{
    const std::uint64_t start = position_;
    position_ += byteCount;
    return readAhead_.read(into, byteCount, start, bytesTransferred);
}

bool ReadAheadDevice::control(std::uint32_t controlCode, std::span<const std::uint8_t> input,
                              std::span<std::uint8_t> output, std::uint32_t& bytesReturned,
                              std::span<std::uint8_t> callerMemory)
{
    return handle_->control(controlCode, input, output, bytesReturned, callerMemory);
}

} // namespace velo
