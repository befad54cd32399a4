#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <sys/types.h>

namespace velo::linux_backend
{

// Reads a block device around the page cache (O_DIRECT), one logical block at a time.
//
// A buffered read of a block device fails for a whole page-cache page (4 KiB) when one
// sector in it is bad, so the good sectors beside a bad one would be lost with it. Read
// again through this reader, only the blocks that really fail are lost.
class DirectSectorReader
{
public:
    // A second descriptor on the block device that fd reads, opened with O_DIRECT, and
    // the device's logical block size. Empty when fd is not a block device or the device
    // refuses O_DIRECT.
    static std::unique_ptr<DirectSectorReader> forDevice(int fd);

    ~DirectSectorReader();
    DirectSectorReader(const DirectSectorReader&) = delete;
    DirectSectorReader& operator=(const DirectSectorReader&) = delete;

    // Like pread(2) for [offset, offset + count): reads the logical blocks that cover the
    // range one by one into an aligned buffer and copies out the requested bytes. Returns
    // how many bytes from offset on were read before the first block that failed, or -1
    // (errno set) when that was the first; 0 at the device's end. Threads may call it at
    // the same time.
    ssize_t readAt(std::uint8_t* into, std::size_t count, std::uint64_t offset);

    std::uint32_t blockBytes() const { return blockBytes_; }

private:
    DirectSectorReader(int fd, std::uint32_t blockBytes, std::uint8_t* aligned);

    int fd_;
    std::uint32_t blockBytes_;
    std::uint8_t* block_; // blockBytes_ bytes, aligned to blockBytes_
    std::mutex mutex_;
};

} // namespace velo::linux_backend
