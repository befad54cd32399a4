#include "cli/sourcereads.h"

#include <algorithm>
#include <cerrno>

namespace velo::cli
{

SourceReads::SourceReads(ReadAt readAt, std::uint32_t sectorBytes, ReadAt sectorAt,
                         std::uint64_t giveUpAfter)
    : readAt_(std::move(readAt)), sectorAt_(sectorAt ? std::move(sectorAt) : readAt_),
      sectorBytes_(sectorBytes), giveUpAfter_(std::max<std::uint64_t>(1, giveUpAfter))
{
}

void SourceReads::giveUp(int error)
{
    goneError_.store(error, std::memory_order_release);
    gone_.store(true, std::memory_order_release);
}

SourceReads::Result SourceReads::read(std::uint64_t first, std::size_t count, std::uint8_t* into,
                                      std::vector<bool>& unreadable)
{
    const Result r = readSectors(first, count, into, unreadable);
    sectorsTried_.fetch_add(r.tried, std::memory_order_relaxed);
    return r;
}

SourceReads::Result SourceReads::readSectors(std::uint64_t first, std::size_t count,
                                             std::uint8_t* into, std::vector<bool>& unreadable)
{
    Result r;
    if (gone()) {
        r.gaveUp = true;
        r.error = goneError();
        return r;
    }
    const std::size_t bytes = count * sectorBytes_;
    const std::size_t got = readFully(readAt_, into, bytes, first * sectorBytes_, r.error);
    const std::size_t firstTried = got / sectorBytes_;
    if (firstTried > 0)
        failedInARow_ = 0;
    r.tried = firstTried;
    // Everything before the failure is good; the rest is tried sector by sector.
    for (std::size_t i = firstTried; i < count; ++i) {
        if (gone()) {
            r.gaveUp = true;
            return r;
        }
        ++r.tried;
        std::uint8_t* at = into + i * sectorBytes_;
        int error = 0;
        if (readFully(sectorAt_, at, sectorBytes_, (first + i) * sectorBytes_, error) ==
            sectorBytes_) {
            failedInARow_ = 0;
            continue;
        }
        r.error = error;
        unreadable[i] = true;
        if (error == ENODEV || error == ENXIO || ++failedInARow_ >= giveUpAfter_) {
            giveUp(error);
            r.gaveUp = true;
            return r;
        }
    }
    return r;
}

} // namespace velo::cli
