#pragma once

#include "scan/jpeg/walker.h"

#include <functional>
#include <optional>

namespace velo::jpeg
{

// How far the search for a photo's second piece may go. It tries at most
// maxSplits * (windowBytes / clusterBytes) candidates, newest cut first, each walked
// until it fails or reaches the end of image, within the SearchBudget it is given.
struct SearchLimits {
    std::uint64_t clusterBytes = 4096;       // pieces begin and end at whole clusters
    std::uint64_t windowBytes = 64ull << 20; // the second piece begins this far on at most
    std::size_t maxSplits = 8;               // cluster boundaries before the break tried as the cut
    std::uint64_t maxFileBytes = 256ull << 20;
    bool testPlainSectors = true; // as Walker::testPlainSectors
};

// What one search may walk, in Walker::work(). It starts no further candidate once it has
// spent perSearch, and gives up a walk once it has covered as many bytes of the file as
// `total` (what the rule as a whole may still spend) has left.
struct SearchBudget {
    std::uint64_t perSearch = 0;
    std::uint64_t total = 0;
    std::uint64_t walked = 0; // spent by this search so far, each walk at least 64
    std::uint64_t work = 0;   // Walker::work() of its walks
};

struct Continuation {
    std::uint64_t split = 0;  // logical offset where the first piece ends
    std::uint64_t resume = 0; // card offset where the second piece begins
    std::uint64_t length = 0; // the file's length
};

// Finds where a photo that starts at card offset `start` and broke at logical offset
// `breakAt` goes on: a cut at a cluster boundary at or before the break (one of the
// newest `points` lies at or before it) and a cluster after it from which the walk runs
// cleanly, with every scan decoded, to the end of the image. `taken` tells card offsets
// that belong to files already carved. What the search walks is added to budget.walked.
// Once `stop` says so, the search ends with nothing found.
std::optional<Continuation> findContinuation(CardBytes& card, std::uint64_t start,
                                             const std::deque<WalkState>& points,
                                             std::uint64_t breakAt, const SearchLimits& limits,
                                             SearchBudget& budget,
                                             const std::function<bool(std::uint64_t)>& taken,
                                             const std::function<bool()>& stop = {});

} // namespace velo::jpeg
