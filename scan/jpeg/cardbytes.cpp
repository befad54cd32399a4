#include "scan/jpeg/cardbytes.h"

#include "scan/markers.h"

#include <algorithm>

namespace velo::jpeg
{

CardBytes::CardBytes(SectorReader& reader, std::size_t cacheBytes)
    : reader_(reader), sectorBytes_(reader.sectorBytes()),
      sizeBytes_(reader.sectorCount() * reader.sectorBytes()),
      sectorsPerBlock_(std::max<std::size_t>(1, kBlockBytes / reader.sectorBytes())),
      maxBlocks_(std::max<std::size_t>(4, cacheBytes / (sectorsPerBlock_ * sectorBytes_)))
{
}

CardBytes::Block& CardBytes::block(std::uint64_t index)
{
    if (last_ && index == lastIndex_)
        return *last_;
    if (auto it = blocks_.find(index); it != blocks_.end()) {
        lru_.splice(lru_.begin(), lru_, it->second.age);
        lastIndex_ = index;
        last_ = &it->second;
        return it->second;
    }
    Block fresh;
    if (blocks_.size() >= maxBlocks_) {
        // Reuse the storage of the block used longest ago.
        last_ = nullptr;
        auto oldest = blocks_.find(lru_.back());
        fresh = std::move(oldest->second);
        blocks_.erase(oldest);
        lru_.pop_back();
    }
    const std::uint64_t first = index * sectorsPerBlock_;
    const std::size_t count =
        std::size_t(std::min<std::uint64_t>(sectorsPerBlock_, reader_.sectorCount() - first));
    fresh.bytes.resize(count * sectorBytes_);
    fresh.unreadable.assign(count, false);
    fresh.tried = reader_.readMarking(first, count, fresh.bytes.data(), fresh.unreadable);
    fresh.allReadable =
        fresh.tried == count &&
        std::find(fresh.unreadable.begin(), fresh.unreadable.end(), true) == fresh.unreadable.end();
    lru_.push_front(index);
    fresh.age = lru_.begin();
    lastIndex_ = index;
    last_ = &blocks_.emplace(index, std::move(fresh)).first->second;
    return *last_;
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
