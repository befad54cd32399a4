#pragma once

#include "platform/platform.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace velo
{

// Why a positioned read came back without all it asked for.
enum class ReadFailure {
    None,       // all of it, or up to the device's end
    Unreadable, // a bad area: the bytes before it arrived, the rest did not
    Gone,       // the device itself has gone (a card pulled out): no later read can work
};

struct ReadAnswer {
    std::uint32_t bytes = 0; // read from the offset on, before the end or the failure
    ReadFailure failure = ReadFailure::None;
};

// Reads up to byteCount bytes at byteOffset into `into`, as the device answers one request.
using PositionedRead = std::function<ReadAnswer(std::uint8_t* into, std::uint32_t byteCount,
                                                std::uint64_t byteOffset)>;

// Serves reads of a device from a block read ahead, so that a scan asking for one sector
// at a time makes one request to the system per block instead of one per sector.
//
// Every read gets what asking the device for exactly that range would give: its bytes,
// its failure, its short count at the end. A read that the block holds whole is copied
// from it; anything else is asked of the device on its own, as it would be with no
// reading ahead: a request the block does not cover starts a new block at its offset,
// and a request in the part of a block that failed or came back short (a bad sector, the
// device's end) is read alone, so a bad sector still costs only itself. Once the device
// answers Gone, every later read fails without asking it. One block of memory, at most.
class ReadAhead
{
public:
    static constexpr std::uint32_t kBlockBytes = 1u << 20;

    explicit ReadAhead(PositionedRead device, std::uint32_t blockBytes = kBlockBytes);

    // The DeviceHandle::read contract at an explicit offset: false when the range could
    // not be read, bytesTransferred holding what arrived from byteOffset on all the same.
    bool read(std::uint8_t* into, std::uint32_t byteCount, std::uint64_t byteOffset,
              std::uint32_t& bytesTransferred);

private:
    bool readAlone(std::uint8_t* into, std::uint32_t byteCount, std::uint64_t byteOffset,
                   std::uint32_t& bytesTransferred);

    PositionedRead device_;
    std::uint32_t blockBytes_;
    std::vector<std::uint8_t> block_; // made at the first block read
    std::uint64_t blockStart_ = 0;
    std::uint64_t blockEnd_ = 0;  // the range asked for: [blockStart_, blockEnd_)
    std::uint64_t blockGood_ = 0; // the range that arrived: [blockStart_, blockGood_)
    bool gone_ = false;
};

// A volume handle read sequentially through a ReadAhead. It owns the handle it reads
// (for device-control requests, and to release the device when destroyed); `device` is
// that handle's positioned read.
class ReadAheadDevice : public DeviceHandle
{
public:
    ReadAheadDevice(std::unique_ptr<DeviceHandle> handle, PositionedRead device,
                    std::uint32_t blockBytes = ReadAhead::kBlockBytes);

    // Moves the position on by byteCount whether or not the read worked.
    bool read(std::uint8_t* into, std::uint32_t byteCount,
              std::uint32_t& bytesTransferred) override;

    bool control(std::uint32_t controlCode, std::span<const std::uint8_t> input,
                 std::span<std::uint8_t> output, std::uint32_t& bytesReturned,
                 std::span<std::uint8_t> callerMemory) override;

private:
    std::unique_ptr<DeviceHandle> handle_;
    ReadAhead readAhead_;
    std::uint64_t position_ = 0;
};

} // namespace velo
