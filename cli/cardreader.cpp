#include "cli/cardreader.h"

#include <algorithm>
#include <cerrno>

namespace velo::cli
{

bool ReadAtSectors::readWhole(const ReadAt& readAt, std::uint8_t* into, std::size_t bytes,
                              std::uint64_t offset)
{
    std::size_t done = 0;
    while (done < bytes) {
        const ssize_t n = readAt(into + done, bytes - done, offset + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += std::size_t(n);
    }
    return true;
}

std::size_t ReadAtSectors::read(std::uint64_t first, std::size_t count, std::uint8_t* into)
{
    if (first >= sectorCount_)
        return 0;
    count = std::size_t(std::min<std::uint64_t>(count, sectorCount_ - first));
    if (readWhole(readAt_, into, count * sectorBytes_, first * sectorBytes_))
        return count;
    std::size_t done = 0;
    while (done < count && readWhole(sectorAt_, into + done * sectorBytes_, sectorBytes_,
                                     (first + done) * sectorBytes_))
        ++done;
    return done;
}

} // namespace velo::cli
