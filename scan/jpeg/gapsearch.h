#pragma once

#include "scan/jpeg/jointcheck.h"
#include "scan/jpeg/layout.h"
#include "scan/jpeg/searchbudget.h"
#include "scan/jpeg/walker.h"

#include <deque>
#include <functional>
#include <optional>

namespace velo::jpeg
{

// How far the search for a photo's further pieces may go. For each piece it tries at most
// maxSplits * (windowBytes / clusterBytes) candidates, newest cut first, each walked until
// it fails or reaches the end of image, within the SearchBudget it is given.
struct SearchLimits {
    std::uint64_t clusterBytes = 4096;       // pieces begin and end at whole clusters
    std::uint64_t windowBytes = 64ull << 20; // a piece begins this far past the cut at most
    std::size_t maxSplits = 8;               // cluster boundaries before the break tried as the cut
    std::size_t maxPieces = 2;               // pieces of one file at most
    std::uint64_t maxFileBytes = 256ull << 20;
    bool testPlainSectors = true; // as Walker::testPlainSectors
    // Resume points a walk keeps: enough for an MCU row of a large photo behind a cut.
    std::size_t pointsKept = 256;
};

// A photo's pieces, found.
struct FoundPieces {
    Layout layout;
    std::uint64_t length = 0; // the file's length
    // Whether the picture was seen to go on across every joint. When it was not (too few
    // rows on a side, a joint in the header), the pieces are a guess the walk allows.
    bool jointsSeen = true;
};

// Finds where a photo that starts at card offset `start` and broke at logical offset
// `breakAt` goes on, piece after piece, until a walk reaches its end of image with every
// scan decoded. Each piece is cut at a cluster boundary at or before its break (one of the
// walk's newest resume `points` lies at or before it) and goes on at a cluster further on
// the card, up to the window past the cut (and from the card's start on, for the part of
// the window past its end: allocation wraps), whose data decodes on across the joint, for
// at least a whole cluster, with a picture that fits above and below the joint.
// `taken` tells card offsets that belong to files already carved. What the search walks is
// added to budget.walked. Once `stop` says so, the search ends with nothing found.
std::optional<FoundPieces> findPieces(CardBytes& card, std::uint64_t start,
                                      const std::deque<WalkState>& points, std::uint64_t breakAt,
                                      const SearchLimits& limits, SearchBudget& budget,
                                      const std::function<bool(std::uint64_t)>& taken,
                                      const std::function<bool()>& stop = {});

} // namespace velo::jpeg
