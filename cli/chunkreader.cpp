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
}

const Chunk* ChunkReader::next()
{
    if (!readAhead_) {
        if (!fill(0, done_))
            return nullptr;
        return &chunks_[0];
    }
    if (!ahead_.valid())
        startReading(reading_);
    const auto [read, progress] = ahead_.get();
    if (!read)
        return nullptr;
    done_ = progress;
    const std::size_t ready = reading_;
    reading_ ^= 1;
    startReading(reading_);
    return &chunks_[ready];
}

void ChunkReader::startReading(std::size_t which)
{
    ahead_ = std::async(std::launch::async, [this, which, progress = done_]() mutable {
        const bool read = fill(which, progress);
        return std::pair{read, progress};
    });
}

bool ChunkReader::fill(std::size_t which, Progress& progress)
{
    if (progress.nextSector >= sectorCount_ || progress.gone)
        return false;
    std::size_t sectors =
        std::size_t(std::min<std::uint64_t>(sectorsPerChunk_, sectorCount_ - progress.nextSector));
    const std::uint64_t offset = progress.nextSector * sectorSize_;
    const std::size_t bytes = sectors * sectorSize_;
    std::vector<std::uint8_t>& buffer = buffers_[which];
    if (buffer.size() < bytes)
        buffer.resize(std::size_t(std::min<std::uint64_t>(sectorsPerChunk_, sectorCount_)) *
                      sectorSize_);

    Chunk& chunk = chunks_[which];
    chunk.data_ = buffer.data();
    chunk.sectorSize_ = sectorSize_;
    chunk.firstSector_ = progress.nextSector;
    chunk.unreadable_.clear();
    chunk.unreadableCount_ = 0;

    int error = 0;
    const std::size_t got = readFully(readAt_, buffer.data(), bytes, offset, error);
    if (got < bytes) {
        // Everything before the failure is good; the rest is tried sector by sector.
        chunk.unreadable_.assign(sectors, false);
        const std::size_t firstTried = got / sectorSize_;
        if (firstTried > 0)
            progress.failedInARow = 0;
        for (std::size_t i = firstTried; i < sectors; ++i) {
            std::uint8_t* at = buffer.data() + i * sectorSize_;
            if (readFully(sectorAt_, at, sectorSize_, offset + i * sectorSize_, error) ==
                sectorSize_) {
                progress.failedInARow = 0;
                continue;
            }
            chunk.unreadable_[i] = true;
            ++chunk.unreadableCount_;
            ++progress.failedInARow;
            if (error == ENODEV || error == ENXIO || progress.failedInARow >= giveUpAfter_) {
                progress.gone = SourceGone{chunk.firstSector_ + i + 1, error};
                sectors = i + 1;
                break;
            }
        }
    } else {
        progress.failedInARow = 0;
    }
    chunk.sectorCount_ = sectors;
    progress.nextSector += sectors;
    return true;
}

} // namespace velo::cli
