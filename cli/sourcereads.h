#pragma once

#include "platform/readat.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace velo::cli
{

using velo::ReadAt;

// How every reader of one run reads the source: the pass, and the JPEG rule's reads ahead
// of it. Sectors are read in runs the size the caller asks for; only when such a read
// fails are its remaining sectors read one at a time through sectorAt (readAt when none
// is given: on a block device, a reader around the page cache, which would otherwise fail
// a whole page for one bad sector), so a bad sector costs exactly itself.
//
// A source that is gone (a card pulled out, a dying disk) is given up on once for all
// readers: at the first ENODEV or ENXIO, or after giveUpAfter sectors in a row that could
// not be read, whoever read them. From then on no read touches the source. Safe to call
// from several threads at once.
class SourceReads
{
public:
    static constexpr std::uint64_t kDefaultGiveUpAfter = 8192;

    SourceReads(ReadAt readAt, std::uint32_t sectorBytes, ReadAt sectorAt = {},
                std::uint64_t giveUpAfter = kDefaultGiveUpAfter);

    struct Result {
        // Sectors from the first on that were tried; fewer than asked only once the source
        // has been given up on (the rest were not read and their bytes are meaningless).
        std::size_t tried = 0;
        bool gaveUp = false; // the source is given up on, during this read or before it
        int error = 0;       // errno of the last failed read
    };

    // Reads `count` sectors from `first` into `into` (count * sectorBytes() bytes) and sets
    // unreadable[i] for each sector i that could not be read. `unreadable` holds count
    // entries, all false, on entry.
    Result read(std::uint64_t first, std::size_t count, std::uint8_t* into,
                std::vector<bool>& unreadable);

    std::uint32_t sectorBytes() const { return sectorBytes_; }
    // Sectors tried so far, by every reader, each time it was asked for (a sector read
    // again after a failed run of sectors counts once).
    std::uint64_t sectorsTried() const { return sectorsTried_.load(std::memory_order_relaxed); }
    bool gone() const { return gone_.load(std::memory_order_acquire); }
    int goneError() const { return goneError_.load(std::memory_order_acquire); }

private:
    Result readSectors(std::uint64_t first, std::size_t count, std::uint8_t* into,
                       std::vector<bool>& unreadable);
    void giveUp(int error);

    ReadAt readAt_;
    ReadAt sectorAt_;
    std::uint32_t sectorBytes_;
    std::uint64_t giveUpAfter_;
    std::atomic<std::uint64_t> failedInARow_ = 0;
    std::atomic<std::uint64_t> sectorsTried_ = 0;
    std::atomic<int> goneError_ = 0;
    std::atomic<bool> gone_ = false;
};

} // namespace velo::cli
