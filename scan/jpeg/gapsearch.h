#pragma once

#include "scan/jpeg/walker.h"

#include <functional>
#include <optional>

namespace velo::jpeg
{

// How far the search for a photo's second piece may go. It tries at most
// maxSplits * (windowBytes / clusterBytes) candidates, newest cut first, each walked
// until it fails or for screenBytes, and the few that pass to their end; and it stops once
// it has walked as many bytes as the budget it is given (overshooting by one candidate's
// walk at most, itself bounded by maxFileBytes).
struct SearchLimits {
    std::uint64_t clusterBytes = 4096;       // pieces begin and end at whole clusters
    std::uint64_t windowBytes = 64ull << 20; // the second piece begins this far on at most
    std::size_t maxSplits = 8;               // cluster boundaries before the break tried as the cut
    std::uint64_t screenBytes = 4096;        // clean decoding a candidate needs to be followed on
    std::uint64_t maxFileBytes = 256ull << 20;
    bool testPlainSectors = true; // as Walker::testPlainSectors
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
// that belong to files already carved. `budget` is the number of bytes the search may
// walk; it is decreased by what it walks.
std::optional<Continuation> findContinuation(CardBytes& card, std::uint64_t start,
                                             const std::deque<WalkState>& points,
                                             std::uint64_t breakAt, const SearchLimits& limits,
                                             std::uint64_t& budget,
                                             const std::function<bool(std::uint64_t)>& taken);

} // namespace velo::jpeg
