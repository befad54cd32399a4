#include "cli/chunkreader.h"

#include <algorithm>
#include <cerrno>

namespace velo::cli
{

ChunkReader::ChunkReader(ReadAt readAt, std::uint32_t sectorSize, std::uint64_t sectorCount,
                         std::size_t chunkBytes, ReadAt sectorAt, std::uint64_t giveUpAfter)
    : readAt_(std::move(readAt)), sectorAt_(sectorAt ? std::move(sectorAt) : readAt_),
      sectorSize_(sectorSize), sectorCount_(sectorCount),
      sectorsPerChunk_(std::max<std::size_t>(1, chunkBytes / sectorSize)),
      giveUpAfter_(std::max<std::uint64_t>(1, giveUpAfter))
{
    buffer_.resize(std::size_t(std::min<std::uint64_t>(sectorsPerChunk_, sectorCount_)) *
                   sectorSize_);
    chunk_.data_ = buffer_.data();
    chunk_.sectorSize_ = sectorSize_;
}

const Chunk* ChunkReader::next()
{
    if (nextSector_ >= sectorCount_ || gone_)
        return nullptr;
    std::size_t sectors =
        std::size_t(std::min<std::uint64_t>(sectorsPerChunk_, sectorCount_ - nextSector_));
    const std::uint64_t offset = nextSector_ * sectorSize_;
    const std::size_t bytes = sectors * sectorSize_;

    chunk_.firstSector_ = nextSector_;
    chunk_.unreadable_.clear();
    chunk_.unreadableCount_ = 0;

    const std::size_t got = readFully(readAt_, buffer_.data(), bytes, offset, lastError_);
    if (got < bytes) {
        // Everything before the failure is good; the rest is tried sector by sector.
        chunk_.unreadable_.assign(sectors, false);
        const std::size_t firstTried = got / sectorSize_;
        if (firstTried > 0)
            failedInARow_ = 0;
        for (std::size_t i = firstTried; i < sectors; ++i) {
            std::uint8_t* at = buffer_.data() + i * sectorSize_;
            if (readFully(sectorAt_, at, sectorSize_, offset + i * sectorSize_, lastError_) ==
                sectorSize_) {
                failedInARow_ = 0;
                continue;
            }
            chunk_.unreadable_[i] = true;
            ++chunk_.unreadableCount_;
            ++failedInARow_;
            if (lastError_ == ENODEV || lastError_ == ENXIO || failedInARow_ >= giveUpAfter_) {
                gone_ = SourceGone{chunk_.firstSector_ + i + 1, lastError_};
                sectors = i + 1;
                break;
            }
        }
    } else {
        failedInARow_ = 0;
    }
    chunk_.sectorCount_ = sectors;
    nextSector_ += sectors;
    return &chunk_;
}

} // namespace velo::cli
