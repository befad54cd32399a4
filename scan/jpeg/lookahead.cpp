#include "scan/jpeg/lookahead.h"

#include <algorithm>
#include <limits>

namespace velo::jpeg
{

namespace
{
// A walk that may be given up looks at the stop between steps of this many bytes.
constexpr std::uint64_t kStepBytes = 4ull << 20;
// Walks kept for the pass at most: a broken one holds its resume points and the file's
// tables, and a hostile card can start a file in every sector.
constexpr std::size_t kWalksKept = 256;
} // namespace

FirstWalk walkFirst(CardBytes& card, std::uint64_t start, std::uint64_t maxFileBytes,
                    bool testPlain, ResumeSpacing spacing, const std::atomic<bool>* quit)
{
    Walker walker(card, Layout{start}, maxFileBytes);
    walker.testPlainSectors(testPlain);
    walker.keepResumePoints(spacing.everyBytes, spacing.count);
    FirstWalk w;
    w.spacing = spacing;
    const std::uint64_t whole = std::numeric_limits<std::uint64_t>::max();
    do {
        if (quit && *quit)
            return w;
        w.outcome = walker.run(quit ? walker.state().pos + kStepBytes : whole);
    } while (w.outcome == Outcome::Running);
    w.cause = walker.cause();
    w.length = walker.length();
    w.breakAt = walker.breakAt();
    w.unreadable = walker.unreadable();
    w.decodedAll = walker.decodedAll();
    w.segments = walker.state().segments;
    if (w.outcome == Outcome::Broken)
        w.resumePoints = walker.resumePoints();
    return w;
}

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

std::optional<FirstWalk> LookAhead::take(std::uint64_t sector, ResumeSpacing spacing)
{
    std::unique_lock lock(mutex_);
    asked_ = sector;
    spacing_ = spacing;
    walks_.erase(walks_.begin(), walks_.lower_bound(sector));
    changed_.notify_all();
    const auto it = walks_.find(sector);
    if (it == walks_.end()) {
        // Not reached yet, or skipped: the caller walks it, the workers go on after it.
        scanned_ = std::max(scanned_, sector + 1);
        return std::nullopt;
    }
    changed_.wait(lock, [&] { return it->second.done; });
    std::optional<FirstWalk> walk;
    if (it->second.result.outcome == Outcome::Complete || it->second.result.spacing == spacing)
        walk = std::move(it->second.result);
    walks_.erase(it);
    return walk;
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
        if (scanned_ >= sectors || scanned_ >= asked_ + aheadSectors_ ||
            walks_.size() >= kWalksKept) {
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
    const std::uint64_t sectorBytes = reader_.sectorBytes();
    std::unique_lock lock(mutex_);
    while (const std::optional<std::uint64_t> sector = nextStart(lock)) {
        walks_[*sector] = {};
        const ResumeSpacing spacing = spacing_;
        lock.unlock();
        FirstWalk walk =
            walkFirst(card, *sector * sectorBytes, maxFileBytes_, true, spacing, &quit_);
        lock.lock();
        if (walk.outcome == Outcome::Complete)
            skipTo_ = std::max(skipTo_, (*sector * sectorBytes + walk.length + sectorBytes - 1) /
                                            sectorBytes);
        if (const auto it = walks_.find(*sector); it != walks_.end()) {
            it->second.done = true;
            it->second.result = std::move(walk);
        }
        changed_.notify_all();
    }
}

} // namespace velo::jpeg
