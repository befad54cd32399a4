#pragma once

#include "cli/sourcereads.h"
#include "scan/jpeg/sharedblocks.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <future>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace velo::cli
{

// A run of consecutive sectors as read. Sectors that could not be read whole are marked;
// their bytes in data() are meaningless.
class Chunk
{
public:
    std::uint64_t firstSector() const { return firstSector_; }
    std::size_t sectorCount() const { return sectorCount_; }
    bool readable(std::size_t i) const { return unreadable_.empty() || !unreadable_[i]; }
    std::size_t unreadableCount() const { return unreadableCount_; }
    std::span<const std::uint8_t> sector(std::size_t i) const
    {
        if (data_)
            return {data_ + i * sectorBytes_, sectorBytes_};
        const std::uint64_t s = firstSector_ + i;
        const Block& b = *blocks_[std::size_t(s / sectorsPerBlock_ - firstBlock_)];
        return {b.bytes.data() + (s - b.firstSector) * sectorBytes_, sectorBytes_};
    }

private:
    friend class ChunkReader;
    using Block = jpeg::SharedBlocks::Block;
    const std::uint8_t* data_ = nullptr; // null when the chunk is made of shared blocks
    std::vector<std::shared_ptr<const Block>> blocks_; // from firstBlock_ on
    std::uint64_t firstBlock_ = 0;
    std::size_t sectorsPerBlock_ = 1;
    std::size_t sectorBytes_ = 0;
    std::uint64_t firstSector_ = 0;
    std::size_t sectorCount_ = 0;
    std::vector<bool> unreadable_; // empty while every sector of the chunk was read
    std::size_t unreadableCount_ = 0;
};

// Why reading stopped before the last sector.
struct SourceGone {
    std::uint64_t sector = 0; // the first sector not carved
    int error = 0;            // errno of the last failed read
};

// Reads sectors [0, sectorCount) in large chunks, the way a disk is fastest read, through
// the run's SourceReads (directly, or through the JPEG rule's shared blocks): a bad sector
// costs exactly itself and never its neighbours, and reading stops once the source is
// given up on (by this reader or another of the run), at the first sector not read before.
class ChunkReader
{
public:
    static constexpr std::size_t kDefaultChunkBytes = std::size_t(4) << 20;
    static constexpr std::uint64_t kDefaultGiveUpAfter = SourceReads::kDefaultGiveUpAfter;

    ChunkReader(std::shared_ptr<SourceReads> reads, std::uint64_t sectorCount,
                std::size_t chunkBytes = kDefaultChunkBytes);
    // Made of the shared blocks, which the JPEG rule and its walks ahead read too, so that
    // the run reads each sector from the source once; `reads` are those the blocks read
    // through, which say why the source was given up on. Its blocks are kept like the
    // walks': the search of a photo that broke off reads those just behind the pass.
    ChunkReader(std::shared_ptr<SourceReads> reads, std::shared_ptr<jpeg::SharedBlocks> blocks,
                std::size_t chunkBytes = kDefaultChunkBytes);
    // With reads of its own.
    ChunkReader(ReadAt readAt, std::uint32_t sectorBytes, std::uint64_t sectorCount,
                std::size_t chunkBytes = kDefaultChunkBytes, ReadAt sectorAt = {},
                std::uint64_t giveUpAfter = kDefaultGiveUpAfter);

    // From the second chunk on, each chunk is read on another thread while the caller works
    // on the one before it. The chunks, and what sectorsDone() and gone() say between
    // them, are the same.
    void readAhead() { readAhead_ = true; }

    // The next chunk, or nullptr after the last. The chunk is valid until the next call.
    const Chunk* next();

    // Of the chunks handed out so far.
    std::uint64_t sectorsDone() const { return done_.nextSector; }
    // Set once reading has stopped before the last sector.
    const std::optional<SourceGone>& gone() const { return done_.gone; }

private:
    struct Progress {
        std::uint64_t nextSector = 0;
        std::optional<SourceGone> gone;
    };
    // Reads the chunk after `progress` into chunks_[which] and moves `progress` past it;
    // false when there is none.
    bool fill(std::size_t which, Progress& progress);
    // The same, from the shared blocks; `sectors` of them, at most.
    bool fillFromBlocks(Chunk& chunk, std::size_t sectors, Progress& progress);
    void startReading(std::size_t which);

    std::shared_ptr<SourceReads> reads_;
    std::shared_ptr<jpeg::SharedBlocks> blocks_; // null: the chunks are read into buffers_
    std::uint32_t sectorBytes_;
    std::uint64_t sectorCount_;
    std::size_t sectorsPerChunk_;
    bool readAhead_ = false;
    std::array<std::vector<std::uint8_t>, 2> buffers_; // the second one for reading ahead
    std::array<Chunk, 2> chunks_;
    std::size_t reading_ = 0; // the chunk being read ahead
    Progress done_;
    std::future<std::pair<bool, Progress>> ahead_; // last: waited for before the rest goes
};

} // namespace velo::cli
