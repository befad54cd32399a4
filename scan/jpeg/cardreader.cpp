#include "scan/jpeg/cardreader.h"

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
    fresh.readable.assign(count, true);
    fresh.allReadable = true;
    std::size_t done = 0;
    while (done < count) {
        done += reader_.read(first + done, count - done, fresh.bytes.data() + done * sectorBytes_);
        if (done < count) {
            // One bad sector costs itself: the ones after it are read again.
            fresh.readable[done] = false;
            fresh.allReadable = false;
            ++done;
        }
    }
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
    std::size_t endSector = b.allReadable ? b.readable.size() : firstSector;
    while (endSector < b.readable.size() && b.readable[endSector])
        ++endSector;
    const std::size_t from = firstSector * sectorBytes_ + std::size_t(offset % sectorBytes_);
    const std::size_t to = endSector * sectorBytes_;
    if (from >= to)
        return {};
    return {b.bytes.data() + from, to - from};
}

bool CardBytes::unreadable(std::uint64_t offset)
{
    return offset < sizeBytes_ && at(offset).empty();
}

bool CardBytes::startsJpeg(std::uint64_t sector)
{
    if (sectorBytes_ < 3)
        return false;
    if (sector >= sizeBytes_ / sectorBytes_)
        return false;
    const Block& b = block(sector / sectorsPerBlock_);
    const std::size_t i = std::size_t(sector % sectorsPerBlock_);
    const std::uint8_t* p = b.bytes.data() + i * sectorBytes_;
    return b.readable[i] && p[0] == 0xFF && p[1] == 0xD8 && p[2] == 0xFF;
}

} // namespace velo::jpeg
