#include "scan/jpeg/cardbytes.h"

#include "scan/markers.h"

#include <algorithm>

namespace velo::jpeg
{

CardBytes::CardBytes(SharedBlocks& blocks)
    : blocks_(blocks), sectorBytes_(blocks.sectorBytes()),
      sizeBytes_(blocks.sectorCount() * blocks.sectorBytes()),
      sectorsPerBlock_(blocks.sectorsPerBlock())
{
}

const CardBytes::Block& CardBytes::block(std::uint64_t index)
{
    if (held_[0] && heldIndex_[0] == index)
        return *held_[0];
    std::size_t i = 1;
    while (i + 1 < held_.size() && !(held_[i] && heldIndex_[i] == index))
        ++i;
    // i is where the block is held, or the slot of the one used longest ago.
    if (!(held_[i] && heldIndex_[i] == index)) {
        held_[i] = blocks_.get(index);
        heldIndex_[i] = index;
    }
    std::rotate(held_.begin(), held_.begin() + std::ptrdiff_t(i),
                held_.begin() + std::ptrdiff_t(i) + 1);
    std::rotate(heldIndex_.begin(), heldIndex_.begin() + std::ptrdiff_t(i),
                heldIndex_.begin() + std::ptrdiff_t(i) + 1);
    return *held_[0];
}

std::span<const std::uint8_t> CardBytes::at(std::uint64_t offset)
{
    if (offset >= sizeBytes_)
        return {};
    const std::uint64_t sector = offset / sectorBytes_;
    const Block& b = block(sector / sectorsPerBlock_);
    const std::size_t firstSector = std::size_t(sector % sectorsPerBlock_);
    std::size_t endSector = b.allReadable ? b.unreadable.size() : firstSector;
    while (endSector < b.tried && !b.unreadable[endSector])
        ++endSector;
    const std::size_t from = firstSector * sectorBytes_ + std::size_t(offset % sectorBytes_);
    const std::size_t to = endSector * sectorBytes_;
    if (from >= to)
        return {};
    return {b.bytes.data() + from, to - from};
}

bool CardBytes::unreadable(std::uint64_t offset)
{
    if (offset >= sizeBytes_)
        return false;
    const std::uint64_t sector = offset / sectorBytes_;
    const Block& b = block(sector / sectorsPerBlock_);
    const std::size_t i = std::size_t(sector % sectorsPerBlock_);
    return i < b.tried && b.unreadable[i];
}

bool CardBytes::startsJpeg(std::uint64_t sector)
{
    if (sectorBytes_ < 3)
        return false;
    if (sector >= sizeBytes_ / sectorBytes_)
        return false;
    const Block& b = block(sector / sectorsPerBlock_);
    const std::size_t i = std::size_t(sector % sectorsPerBlock_);
    return i < b.tried && !b.unreadable[i] &&
           beginsJpeg({b.bytes.data() + i * sectorBytes_, sectorBytes_});
}

} // namespace velo::jpeg
