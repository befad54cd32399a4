#pragma once

#include "scan/jpeg/firstwalk.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

namespace velo::jpeg
{

// Walks the files ahead of the pass on other threads, so that decoding uses every core.
//
// Workers find the sectors that begin FF D8 FF ahead of the pass and walk a file from each
// as the rule's first walk does. A walk depends on nothing the pass learns later but the
// spacing of its resume points (from the cluster size, which the pass learns from the
// files it carves): the pass says the spacing it uses each time it asks, the workers walk
// with the newest one, and a broken walk made with another spacing is not handed out.
// Starts that lie inside a file found complete are not walked: the pass will not ask for
// them.
//
// The walks waiting for the pass are bounded in number and in the memory their resume
// points and tables hold. No lock of the look-ahead is held while the card is read: the
// shared blocks are read from the worker threads at the same time.
class LookAhead
{
public:
    // Walks waiting for the pass, at most: a broken one holds its resume points and the
    // tables they keep, and a hostile card can start a file in every sector.
    static constexpr std::size_t kWalksKept = 256;

    // `threads` workers, each with its own view of the run's shared blocks (which the pass
    // reads too, so that a sector walked ahead is not read again when the pass comes to
    // it). The workers stay at most aheadBytes ahead of the start the pass asked for last,
    // and start no walk while the walks waiting for the pass hold heldBytes or more. A walk
    // is given up once `stop` says so (the pass then asks in vain).
    LookAhead(SharedBlocks& blocks, unsigned threads, std::uint64_t maxFileBytes,
              std::uint64_t aheadBytes = 64ull << 20, std::size_t heldBytes = std::size_t(32) << 20,
              std::function<bool()> stop = {});
    ~LookAhead();
    LookAhead(const LookAhead&) = delete;
    LookAhead& operator=(const LookAhead&) = delete;

    // The first walk of the file that starts at `sector`, made with `spacing` unless it ran
    // complete; nothing when no worker walked it so (the caller walks it then). Waits for a
    // worker that is walking it. The pass asks in the order of the sectors.
    std::optional<FirstWalk> take(std::uint64_t sector, ResumeSpacing spacing);

    // The memory a walk holds for the pass, about.
    static std::size_t heldBytes(const FirstWalk& walk);
    // The most the walks waiting for the pass held at once, and the most one of them held.
    std::pair<std::size_t, std::size_t> heldBytesMost();

private:
    struct Walk {
        bool done = false;
        FirstWalk result;
        std::size_t bytes = 0; // heldBytes(result) once done
    };

    void work();
    std::optional<std::uint64_t> nextStart(std::unique_lock<std::mutex>& lock, CardBytes& card);
    std::map<std::uint64_t, Walk>::iterator forget(std::map<std::uint64_t, Walk>::iterator walk);
    bool roomForAWalk() const;
    std::uint64_t firstWanted() const { return std::max(passed_, skipTo_); }

    SharedBlocks& blocks_;
    std::uint64_t maxFileBytes_;
    std::uint64_t aheadSectors_;
    std::size_t heldLimit_;
    std::function<bool()> stop_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::atomic<bool> quit_ = false;
    ResumeSpacing spacing_;         // the one the pass used last
    std::uint64_t asked_ = 0;       // the sector the pass asked for last
    std::uint64_t passed_ = 0;      // sectors below this are the pass's own
    std::uint64_t scanned_ = 0;     // sectors below this were looked at for starts, or are being
    std::uint64_t skipTo_ = 0;      // the end of the furthest file found complete, in sectors
    std::set<std::uint64_t> found_; // starts found and not yet walked
    std::map<std::uint64_t, Walk> walks_;
    std::size_t heldBytes_ = 0; // of the walks done and not yet taken
    std::size_t heldMost_ = 0, walkMost_ = 0;
    std::vector<std::thread> workers_;
};

} // namespace velo::jpeg
