#include "scan/jpeg/lookahead.h"

#include <algorithm>
#include <bit>

namespace velo::jpeg
{

LookAhead::LookAhead(SharedBlocks& blocks, unsigned threads, std::uint64_t maxFileBytes,
                     std::uint64_t aheadBytes, std::size_t heldBytes, std::function<bool()> stop)
    : blocks_(blocks), maxFileBytes_(maxFileBytes),
      aheadSectors_(std::max<std::uint64_t>(1, aheadBytes / blocks.sectorBytes())),
      heldLimit_(heldBytes), stop_(std::move(stop))
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

std::size_t LookAhead::heldBytes(const FirstWalk& walk)
{
    // Resume points share the tables in force when each was kept; count each set once.
    std::set<const Tables*> tables;
    for (const WalkState& p : walk.resumePoints)
        if (p.frame.tables)
            tables.insert(p.frame.tables.get());
    std::size_t bytes = sizeof(FirstWalk) + walk.resumePoints.size() * sizeof(WalkState);
    for (const Tables* t : tables)
        bytes +=
            sizeof(Tables) + HuffmanTable::kBuiltBytes *
                                 std::size_t(std::popcount(t->dcBuilt) + std::popcount(t->acBuilt));
    return bytes;
}

std::map<std::uint64_t, LookAhead::Walk>::iterator
LookAhead::forget(std::map<std::uint64_t, Walk>::iterator walk)
{
    heldBytes_ -= walk->second.bytes;
    return walks_.erase(walk);
}

bool LookAhead::roomForAWalk() const
{
    return walks_.size() < kWalksKept && heldBytes_ < heldLimit_;
}

std::pair<std::size_t, std::size_t> LookAhead::heldBytesMost()
{
    std::lock_guard lock(mutex_);
    return {heldMost_, walkMost_};
}

std::optional<FirstWalk> LookAhead::take(std::uint64_t sector, ResumeSpacing spacing)
{
    std::unique_lock lock(mutex_);
    asked_ = sector;
    passed_ = std::max(passed_, sector + 1);
    spacing_ = spacing;
    // Walks of starts the pass went by unasked (inside files it carved) are of no more use;
    // one still being walked is dropped when its worker is done.
    for (auto w = walks_.begin(); w != walks_.end() && w->first < sector;)
        w = forget(w);
    changed_.notify_all();
    const auto it = walks_.find(sector);
    if (it == walks_.end())
        return std::nullopt; // not reached yet, or skipped: the caller walks it
    changed_.wait(lock, [&] { return it->second.done; });
    std::optional<FirstWalk> walk;
    if (it->second.result.outcome == Outcome::Complete || it->second.result.spacing == spacing)
        walk = std::move(it->second.result);
    forget(it);
    return walk;
}

// The next start for a worker to walk, once it lies within reach of the pass; nothing
// when the workers are to stop. Looks for starts a block of sectors at a time, with the
// lock let go while it reads them through the worker's own view of the card.
std::optional<std::uint64_t> LookAhead::nextStart(std::unique_lock<std::mutex>& lock,
                                                  CardBytes& card)
{
    const std::uint64_t sectors = blocks_.sectorCount();
    const std::uint64_t blockSectors = blocks_.sectorsPerBlock();
    for (;;) {
        if (quit_)
            return std::nullopt;
        while (!found_.empty() && *found_.begin() < firstWanted())
            found_.erase(found_.begin());
        const std::uint64_t reach = asked_ + aheadSectors_;
        if (!roomForAWalk()) {
            changed_.wait(lock);
            continue;
        }
        if (!found_.empty() && *found_.begin() < reach) {
            const std::uint64_t sector = *found_.begin();
            found_.erase(found_.begin());
            return sector;
        }
        scanned_ = std::max(scanned_, firstWanted());
        if (scanned_ >= sectors || scanned_ >= reach || !found_.empty()) {
            changed_.wait(lock);
            continue;
        }
        const std::uint64_t from = scanned_;
        const std::uint64_t to =
            std::min({sectors, reach, (from / blockSectors + 1) * blockSectors});
        scanned_ = to;
        lock.unlock();
        std::vector<std::uint64_t> starts;
        for (std::uint64_t s = from; s < to && !quit_; ++s)
            if (card.startsJpeg(s))
                starts.push_back(s);
        lock.lock();
        for (std::uint64_t s : starts)
            if (s >= firstWanted())
                found_.insert(s);
    }
}

void LookAhead::work()
{
    CardBytes card(blocks_);
    const std::uint64_t sectorBytes = blocks_.sectorBytes();
    const auto giveUp = [this] { return quit_ || (stop_ && stop_()); };
    std::unique_lock lock(mutex_);
    while (const std::optional<std::uint64_t> sector = nextStart(lock, card)) {
        walks_[*sector] = {};
        const ResumeSpacing spacing = spacing_;
        lock.unlock();
        FirstWalk walk =
            walkFirst(card, *sector * sectorBytes, maxFileBytes_, true, spacing, giveUp);
        const std::size_t bytes = heldBytes(walk);
        lock.lock();
        if (walk.outcome == Outcome::Complete)
            skipTo_ = std::max(skipTo_, (*sector * sectorBytes + walk.length + sectorBytes - 1) /
                                            sectorBytes);
        if (const auto it = walks_.find(*sector); it != walks_.end()) {
            it->second.done = true;
            it->second.result = std::move(walk);
            it->second.bytes = bytes;
            heldBytes_ += bytes;
            heldMost_ = std::max(heldMost_, heldBytes_);
            walkMost_ = std::max(walkMost_, bytes);
        }
        changed_.notify_all();
    }
}

} // namespace velo::jpeg
