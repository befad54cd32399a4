#include "cli/readatsectors.h"

#include <algorithm>

namespace velo::cli
{

std::size_t ReadAtSectors::readMarking(std::uint64_t first, std::size_t count, std::uint8_t* into,
                                       std::vector<bool>& unreadable)
{
    if (first >= sectorCount_)
        return 0;
    count = std::size_t(std::min<std::uint64_t>(count, sectorCount_ - first));
    return reads_->read(first, count, into, unreadable).tried;
}

std::size_t ReadAtSectors::read(std::uint64_t first, std::size_t count, std::uint8_t* into)
{
    std::vector<bool> unreadable(count, false);
    const std::size_t tried = readMarking(first, count, into, unreadable);
    return std::size_t(
        std::find(unreadable.begin(), unreadable.begin() + std::ptrdiff_t(tried), true) -
        unreadable.begin());
}

} // namespace velo::cli
