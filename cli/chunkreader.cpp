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

ChunkReader::ChunkReader(std::shared_ptr<SourceReads> reads,
                         std::shared_ptr<jpeg::SharedBlocks> blocks, std::size_t chunkBytes)
    : ChunkReader(std::move(reads), blocks->sectorCount(), chunkBytes)
{
    blocks_ = std::move(blocks);
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
    if (blocks_)
        return fillFromBlocks(chunks_[which], sectors, progress);
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

bool ChunkReader::fillFromBlocks(Chunk& chunk, std::size_t sectors, Progress& progress)
{
    const std::size_t perBlock = blocks_->sectorsPerBlock();
    chunk.data_ = nullptr;
    chunk.sectorBytes_ = sectorBytes_;
    chunk.sectorsPerBlock_ = perBlock;
    chunk.firstSector_ = progress.nextSector;
    chunk.firstBlock_ = progress.nextSector / perBlock;
    chunk.blocks_.clear();
    chunk.unreadable_.assign(sectors, false);
    chunk.unreadableCount_ = 0;
    // A block whose sectors were not all tried was read once the source was given up on:
    // the chunk ends at the first sector not tried, and reading with it.
    std::size_t tried = 0;
    bool gaveUp = false;
    for (std::uint64_t index = chunk.firstBlock_; tried < sectors && !gaveUp; ++index) {
        auto block = blocks_->get(index, jpeg::SharedBlocks::Wanted::Again);
        for (std::size_t i = std::size_t(progress.nextSector + tried - block->firstSector);
             i < block->sectorCount() && tried < sectors; ++i, ++tried) {
            if (i >= block->tried) {
                gaveUp = true;
                break;
            }
            if (block->unreadable[i]) {
                chunk.unreadable_[tried] = true;
                ++chunk.unreadableCount_;
            }
        }
        chunk.blocks_.push_back(std::move(block));
    }
    if (chunk.unreadableCount_ == 0)
        chunk.unreadable_.clear();
    if (gaveUp)
        progress.gone = SourceGone{progress.nextSector + tried, reads_->goneError()};
    if (tried == 0)
        return false;
    chunk.sectorCount_ = tried;
    progress.nextSector += tried;
    return true;
}

} // namespace velo::cli
