#include "scan/jpeg/lookahead.h"

#include "scan/jpeg/walker.h"

#include <algorithm>

namespace velo::jpeg
{

namespace
{
// A walk looks at the stop between steps of this many bytes.
constexpr std::uint64_t kStepBytes = 4ull << 20;
} // namespace

LookAhead::LookAhead(SectorReader& reader, unsigned threads, std::uint64_t maxFileBytes,
                     std::size_t cacheBytes, std::uint64_t aheadBytes)
    : reader_(reader), maxFileBytes_(maxFileBytes), cacheBytes_(cacheBytes),
      aheadSectors_(std::max<std::uint64_t>(1, aheadBytes / reader.sectorBytes())),
      scanCard_(reader, CardBytes::kBlockBytes * 4)
{
    for (unsigned i = 0; i < threads; ++i)
        workers_.emplace_back([this] { work(); });
}

LookAhead::~LookAhead()
{
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    changed_.notify_all();
    for (auto& w : workers_)
        w.join();
}

std::optional<std::uint64_t> LookAhead::completeLength(std::uint64_t sector)
{
    std::unique_lock lock(mutex_);
    asked_ = sector;
    walks_.erase(walks_.begin(), walks_.lower_bound(sector));
    changed_.notify_all();
    const auto it = walks_.find(sector);
    if (it == walks_.end()) {
        // Not reached yet, or skipped: the caller walks it, the workers go on after it.
        scanned_ = std::max(scanned_, sector + 1);
        return std::nullopt;
    }
    changed_.wait(lock, [&] { return it->second.done; });
    const std::optional<std::uint64_t> length = it->second.length;
    walks_.erase(it);
    return length;
}

// The next sector that begins FF D8 FF and that no worker has taken, once it lies within
// reach of the pass; nothing when the workers are to stop.
std::optional<std::uint64_t> LookAhead::nextStart(std::unique_lock<std::mutex>& lock)
{
    const std::uint64_t sectors = reader_.sectorCount();
    for (;;) {
        if (quit_)
            return std::nullopt;
        scanned_ = std::max(scanned_, skipTo_);
        if (scanned_ >= sectors || scanned_ >= asked_ + aheadSectors_) {
            changed_.wait(lock);
            continue;
        }
        const std::uint64_t sector = scanned_++;
        if (scanCard_.startsJpeg(sector))
            return sector;
    }
}

void LookAhead::work()
{
    CardBytes card(reader_, cacheBytes_);
    std::unique_lock lock(mutex_);
    while (const std::optional<std::uint64_t> sector = nextStart(lock)) {
        walks_[*sector] = {};
        lock.unlock();
        const std::optional<std::uint64_t> length = walk(card, *sector);
        lock.lock();
        if (const auto it = walks_.find(*sector); it != walks_.end()) {
            it->second.done = true;
            it->second.length = length;
        }
        if (length) {
            const std::uint64_t s = reader_.sectorBytes();
            skipTo_ = std::max(skipTo_, (*sector * s + *length + s - 1) / s);
        }
        changed_.notify_all();
    }
}

std::optional<std::uint64_t> LookAhead::walk(CardBytes& card, std::uint64_t sector)
{
    Walker walker(card, Layout{sector * reader_.sectorBytes()}, maxFileBytes_);
    Outcome outcome = Outcome::Running;
    while (outcome == Outcome::Running) {
        {
            std::lock_guard lock(mutex_);
            if (quit_)
                return std::nullopt;
        }
        outcome = walker.run(walker.state().pos + kStepBytes);
    }
    if (outcome != Outcome::Complete)
        return std::nullopt;
    return walker.length();
}

} // namespace velo::jpeg
