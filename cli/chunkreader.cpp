#include "cli/chunkreader.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace velo::cli
{

ReadAt preadFrom(int fd)
{
    return [fd](std::uint8_t* into, std::size_t count, std::uint64_t offset) {
        return ::pread(fd, into, count, off_t(offset));
    };
}

ChunkReader::ChunkReader(ReadAt readAt, std::uint32_t sectorSize, std::uint64_t sectorCount,
                         std::size_t chunkBytes)
    : readAt_(std::move(readAt)), sectorSize_(sectorSize), sectorCount_(sectorCount),
      sectorsPerChunk_(std::max<std::size_t>(1, chunkBytes / sectorSize))
{
    buffer_.resize(std::size_t(std::min<std::uint64_t>(sectorsPerChunk_, sectorCount_)) *
                   sectorSize_);
    chunk_.data_ = buffer_.data();
    chunk_.sectorSize_ = sectorSize_;
}

std::size_t ChunkReader::readFully(std::uint8_t* into, std::size_t count, std::uint64_t offset)
{
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = readAt_(into + done, count - done, offset + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += std::size_t(n);
    }
    return done;
}

const Chunk* ChunkReader::next()
{
    if (nextSector_ >= sectorCount_)
        return nullptr;
    const std::size_t sectors =
        std::size_t(std::min<std::uint64_t>(sectorsPerChunk_, sectorCount_ - nextSector_));
    const std::uint64_t offset = nextSector_ * sectorSize_;
    const std::size_t bytes = sectors * sectorSize_;

    chunk_.firstSector_ = nextSector_;
    chunk_.sectorCount_ = sectors;
    chunk_.unreadable_.clear();
    chunk_.unreadableCount_ = 0;

    const std::size_t got = readFully(buffer_.data(), bytes, offset);
    if (got < bytes) {
        // Everything before the failure is good; the rest is tried sector by sector.
        chunk_.unreadable_.assign(sectors, false);
        for (std::size_t i = got / sectorSize_; i < sectors; ++i) {
            std::uint8_t* at = buffer_.data() + i * sectorSize_;
            if (readFully(at, sectorSize_, offset + i * sectorSize_) < sectorSize_) {
                chunk_.unreadable_[i] = true;
                ++chunk_.unreadableCount_;
            }
        }
    }
    nextSector_ += sectors;
    return &chunk_;
}

} // namespace velo::cli
