#include "scan/jpeg/sectorreader.h"

namespace velo::jpeg
{

std::size_t SectorReader::readMarking(std::uint64_t first, std::size_t count, std::uint8_t* into,
                                      std::vector<bool>& unreadable)
{
    std::size_t done = 0;
    while (done < count) {
        done += read(first + done, count - done, into + done * sectorBytes());
        if (done < count)
            unreadable[done++] = true; // the ones after it are read again
    }
    return count;
}

} // namespace velo::jpeg
