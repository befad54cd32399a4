#include "cli/chunkreader.h"

#include <algorithm>

namespace velo::cli
{

ChunkReader::ChunkReader(std::shared_ptr<SourceReads> reads, std::uint64_t sectorCount,
                         std::size_t chunkBytes)
    : reads_(std::move(reads)), sectorBytes_(reads_->sectorBytes()), sectorCount_(sectorCount),
      sectorsPerChunk_(std::max<std::size_t>(1, chunkBytes / sectorBytes_))
{
}

ChunkReader::ChunkReader(ReadAt readAt, std::uint32_t sectorBytes, std::uint64_t sectorCount,
                         std::size_t chunkBytes, ReadAt sectorAt, std::uint64_t giveUpAfter)
    : ChunkReader(std::make_shared<SourceReads>(std::move(readAt), sectorBytes, std::move(sectorAt),
                                                giveUpAfter),
                  sectorCount, chunkBytes)
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
    done_ = progress;
    if (!read)
        return nullptr;
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
    const std::size_t bytes = sectors * sectorBytes_;
    std::vector<std::uint8_t>& buffer = buffers_[which];
    if (buffer.size() < bytes)
        buffer.resize(std::size_t(std::min<std::uint64_t>(sectorsPerChunk_, sectorCount_)) *
                      sectorBytes_);

    Chunk& chunk = chunks_[which];
    chunk.data_ = buffer.data();
    chunk.sectorBytes_ = sectorBytes_;
    chunk.firstSector_ = progress.nextSector;
    chunk.unreadable_.assign(sectors, false);
    const SourceReads::Result r =
        reads_->read(progress.nextSector, sectors, buffer.data(), chunk.unreadable_);
    chunk.unreadableCount_ =
        std::size_t(std::count(chunk.unreadable_.begin(), chunk.unreadable_.end(), true));
    if (chunk.unreadableCount_ == 0)
        chunk.unreadable_.clear();
    if (r.gaveUp) {
        // The sectors after the ones tried were not read: reading ends with this chunk.
        sectors = r.tried;
        progress.gone = SourceGone{progress.nextSector + sectors, r.error};
        if (sectors == 0)
            return false;
    }
    chunk.sectorCount_ = sectors;
    progress.nextSector += sectors;
    return true;
}

} // namespace velo::cli
