#pragma once

#include "scan/jpeg/sectorreader.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace velo::jpeg
{

// The card's sectors in blocks, read once and shared by every reader of a run: the pass,
// the rule's own reads and the walks made ahead on other threads. A block is handed out as
// a shared_ptr, so its user keeps its bytes alive without a lock; a block that is missing
// is read by the first thread that wants it, with no lock held over the read, while the
// others that want it wait for that read.
//
// The blocks kept are bounded by maxBytes, beyond the blocks someone holds: the block used
// longest ago is dropped first, and a block got as Wanted::NotAgain goes to the front of the
// queue. On a normal card every sector is then read once, as long as maxBytes holds what
// is read ahead of the pass (the walks made ahead, the files carved, the pass's chunks). A
// gap search reads again what has been dropped: far behind the pass, or, on a card of
// many photos in pieces, the blocks near the pass that its reads far ahead pushed out.
// Safe to use from several threads at once.
class SharedBlocks
{
public:
    static constexpr std::size_t kBlockBytes = 64 * 1024;

    // Sectors [firstSector, firstSector + sectorCount()) as read.
    struct Block {
        std::uint64_t firstSector = 0;
        std::vector<std::uint8_t> bytes;
        std::vector<bool> unreadable; // per sector: the read failed
        std::size_t tried = 0;        // sectors read or failed; the rest were not read
        bool allReadable = true;      // every sector read whole
        std::size_t sectorCount() const { return unreadable.size(); }
    };

    // Whether the block is likely to be wanted again soon. velo-carve's pass asks Again: the
    // search of a photo that broke off reads the blocks just behind it.
    enum class Wanted { Again, NotAgain };

    SharedBlocks(SectorReader& reader, std::size_t maxBytes);
    SharedBlocks(const SharedBlocks&) = delete;
    SharedBlocks& operator=(const SharedBlocks&) = delete;

    std::uint32_t sectorBytes() const { return sectorBytes_; }
    std::uint64_t sectorCount() const { return reader_.sectorCount(); }
    std::size_t sectorsPerBlock() const { return sectorsPerBlock_; }
    bool sourceGone() const { return reader_.gone(); }

    // Block `index` (sectors from index * sectorsPerBlock() on), read now unless kept or
    // being read by another thread; index must lie below the card's end.
    std::shared_ptr<const Block> get(std::uint64_t index, Wanted wanted = Wanted::Again);

private:
    struct Entry {
        std::shared_ptr<Block> block; // null while being read
        std::list<std::uint64_t>::iterator age;
    };
    // Reads block `index` into `into` (a block dropped before, its storage reused; or null).
    std::shared_ptr<Block> read(std::uint64_t index, std::shared_ptr<Block> into);
    // Marks the block as used now, at the back of the queue or its front.
    void touch(Entry& entry, std::uint64_t index, Wanted wanted);
    // Drops the blocks nobody holds, those used longest ago first, until maxBytes is kept.
    void trim();

    SectorReader& reader_;
    std::uint32_t sectorBytes_;
    std::size_t sectorsPerBlock_;
    std::size_t maxBytes_;

    std::mutex mutex_;
    std::condition_variable readDone_;
    std::unordered_map<std::uint64_t, Entry> entries_;
    std::list<std::uint64_t> lru_; // blocks read, most recently used first
    std::size_t keptBytes_ = 0;    // of the blocks read
    // Blocks dropped, whose storage the next reads reuse rather than ask the allocator for
    // (which, with blocks freed on other threads than read them, would let the memory grow).
    std::vector<std::shared_ptr<Block>> spares_;
};

} // namespace velo::jpeg
