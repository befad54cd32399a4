#include "scan/jpeg/sharedblocks.h"

#include <algorithm>

namespace velo::jpeg
{

namespace
{
constexpr std::size_t kSpares = 8;
} // namespace

SharedBlocks::SharedBlocks(SectorReader& reader, std::size_t maxBytes)
    : reader_(reader), sectorBytes_(reader.sectorBytes()),
      sectorsPerBlock_(std::max<std::size_t>(1, kBlockBytes / reader.sectorBytes())),
      maxBytes_(maxBytes)
{
}

std::shared_ptr<const SharedBlocks::Block> SharedBlocks::get(std::uint64_t index, Wanted wanted)
{
    std::unique_lock lock(mutex_);
    for (;;) {
        const auto it = entries_.find(index);
        if (it == entries_.end())
            break;
        if (it->second.block) {
            touch(it->second, index, wanted);
            return it->second.block;
        }
        // Another thread is reading it; once done, the block may even have been dropped
        // again, so look again from the start.
        readDone_.wait(lock);
    }
    entries_.emplace(index, Entry{});
    std::shared_ptr<Block> fresh;
    if (!spares_.empty()) {
        fresh = std::move(spares_.back());
        spares_.pop_back();
    }
    lock.unlock();
    try {
        fresh = read(index, std::move(fresh));
    } catch (...) {
        lock.lock();
        entries_.erase(index);
        lock.unlock();
        readDone_.notify_all();
        throw;
    }
    lock.lock();
    Entry& entry = entries_.at(index);
    entry.block = fresh;
    keptBytes_ += fresh->bytes.size();
    entry.age = lru_.insert(lru_.end(), index);
    touch(entry, index, wanted);
    trim();
    lock.unlock();
    readDone_.notify_all();
    return fresh;
}

std::shared_ptr<SharedBlocks::Block> SharedBlocks::read(std::uint64_t index,
                                                        std::shared_ptr<Block> into)
{
    std::shared_ptr<Block> b = into ? std::move(into) : std::make_shared<Block>();
    b->firstSector = index * sectorsPerBlock_;
    const std::size_t count = std::size_t(
        std::min<std::uint64_t>(sectorsPerBlock_, reader_.sectorCount() - b->firstSector));
    b->bytes.resize(count * sectorBytes_);
    b->unreadable.assign(count, false);
    b->tried = reader_.readMarking(b->firstSector, count, b->bytes.data(), b->unreadable);
    b->allReadable = b->tried == count && std::find(b->unreadable.begin(), b->unreadable.end(),
                                                    true) == b->unreadable.end();
    return b;
}

void SharedBlocks::touch(Entry& entry, std::uint64_t index, Wanted wanted)
{
    lru_.erase(entry.age);
    entry.age =
        wanted == Wanted::Again ? lru_.insert(lru_.begin(), index) : lru_.insert(lru_.end(), index);
}

void SharedBlocks::trim()
{
    // A block is held by someone else while its count is above one: only this cache hands
    // out copies, under the lock, so a count of one stays one while the lock is held.
    for (auto at = lru_.end(); keptBytes_ > maxBytes_ && at != lru_.begin();) {
        --at;
        const auto entry = entries_.find(*at);
        if (entry->second.block.use_count() > 1)
            continue;
        keptBytes_ -= entry->second.block->bytes.size();
        if (spares_.size() < kSpares)
            spares_.push_back(std::move(entry->second.block));
        entries_.erase(entry);
        at = lru_.erase(at);
    }
}

} // namespace velo::jpeg
