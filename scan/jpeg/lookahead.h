#pragma once

#include "scan/jpeg/cardreader.h"

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace velo::jpeg
{

// Walks the files ahead of the pass on other threads, so that decoding uses every core.
//
// Workers find the sectors that begin FF D8 FF ahead of the pass and walk a file from each
// as the rule's first walk would (sector test on, no gap search). Whether that walk ran
// complete, and to which length, does not depend on anything the pass learns later (the
// cluster size, the files carved before it), so a complete walk is taken as it is. Any
// other outcome is left to the rule, which walks that file again in order. Starts that
// lie inside a file found complete are not walked: the pass will not ask for them.
//
// The reader is called from the worker threads at the same time: its reads must be safe
// to make concurrently.
class LookAhead
{
public:
    // `threads` workers; each keeps a cache of cacheBytes. The workers stay at most
    // aheadBytes ahead of the start the pass asked for last.
    LookAhead(SectorReader& reader, unsigned threads, std::uint64_t maxFileBytes,
              std::size_t cacheBytes, std::uint64_t aheadBytes = 64ull << 20);
    ~LookAhead();
    LookAhead(const LookAhead&) = delete;
    LookAhead& operator=(const LookAhead&) = delete;

    // The length of the file that starts at `sector` when its walk ran complete; nothing
    // when it did not, or when no worker walked it (the caller walks it then). Waits for a
    // worker that is walking it. The pass asks in the order of the sectors.
    std::optional<std::uint64_t> completeLength(std::uint64_t sector);

private:
    struct Walk {
        bool done = false;
        std::optional<std::uint64_t> length;
    };

    void work();
    std::optional<std::uint64_t> nextStart(std::unique_lock<std::mutex>& lock);
    std::optional<std::uint64_t> walk(CardBytes& card, std::uint64_t sector);

    SectorReader& reader_;
    std::uint64_t maxFileBytes_;
    std::size_t cacheBytes_;
    std::uint64_t aheadSectors_;

    std::mutex mutex_;
    std::condition_variable changed_;
    bool quit_ = false;
    std::uint64_t asked_ = 0;   // the sector the pass asked for last
    std::uint64_t scanned_ = 0; // sectors below this were looked at for starts
    std::uint64_t skipTo_ = 0;  // the end of the furthest file found complete, in sectors
    std::map<std::uint64_t, Walk> walks_;
    CardBytes scanCard_; // for finding starts; used under mutex_
    std::vector<std::thread> workers_;
};

} // namespace velo::jpeg
