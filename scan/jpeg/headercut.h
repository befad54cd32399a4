#pragma once

#include "scan/jpeg/cardbytes.h"
#include "scan/jpeg/searchbudget.h"
#include "scan/jpeg/walkstate.h"

#include <cstdint>
#include <functional>

namespace velo::jpeg
{

// A file in two pieces: logical offsets from `split` on lie at card offset `resume`.
struct TwoPieces {
    std::uint64_t split = 0;
    std::uint64_t resume = 0;
    std::uint64_t length = 0; // the file's length
};

struct HeaderCutLimits {
    std::uint64_t clusterBytes = 4096;
    std::uint64_t maxFileBytes = 256ull << 20;
    bool testPlainSectors = true;
};

// A cut inside a segment that the walk skips by its length (an EXIF or XMP block, say) is
// accepted at every cluster boundary of the segment, with the second piece moved by as
// much: only which bytes fill the segment differs. `found` was found with the walk taken
// up at `from`, the segment's start. Each cluster of the segment between the first and
// the last possible cut either lies just after the first piece's start or just after the
// gap; the cut chosen is the one that takes each cluster from the side whose bytes look
// most like the parts of the segment that are certain (by their byte histogram), among the
// cuts that leave an EXIF thumbnail whole and whose walk still reaches the end of image.
TwoPieces pickHeaderCut(CardBytes& card, std::uint64_t start, const WalkState& from,
                        const TwoPieces& found, const HeaderCutLimits& limits, SearchBudget& budget,
                        const std::function<bool(std::uint64_t)>& taken);

} // namespace velo::jpeg
