#include "scan/jpeg/gapsearch.h"

#include <vector>

namespace velo::jpeg
{

std::optional<Continuation> findContinuation(CardBytes& card, std::uint64_t start,
                                             const std::deque<WalkState>& points,
                                             std::uint64_t breakAt, const SearchLimits& limits,
                                             std::uint64_t& budget,
                                             const std::function<bool(std::uint64_t)>& taken)
{
    const std::uint64_t cluster = limits.clusterBytes;
    if (points.empty() || cluster == 0)
        return std::nullopt;
    // The cuts: the newest cluster boundaries at or before the break from which the walk
    // can be taken up again, each with the newest point at or before it.
    std::vector<std::pair<std::uint64_t, const WalkState*>> cuts;
    for (std::uint64_t split = breakAt / cluster * cluster;
         split > 0 && cuts.size() < limits.maxSplits; split -= cluster) {
        const WalkState* from = nullptr;
        for (auto it = points.rbegin(); it != points.rend() && !from; ++it)
            if (it->pos <= split)
                from = &*it;
        if (!from)
            break;
        cuts.push_back({split, from});
    }
    // The newest cut first, with every gap the window allows: the data usually stops
    // decoding within a cluster of the cut. Older cuts make the walk resume inside the
    // photo's own data, which decodes (wrongly) for long, so they come last.
    for (const auto& [split, from] : cuts) {
        const std::uint64_t cut = start + split;
        for (std::uint64_t resume = cut + cluster;
             resume - cut <= limits.windowBytes && resume < card.sizeBytes(); resume += cluster) {
            if (budget == 0)
                return std::nullopt;
            if (taken(resume))
                continue;
            Walker w(card, Layout{start, split, resume}, limits.maxFileBytes);
            w.testPlainSectors(limits.testPlainSectors);
            w.restore(*from);
            Outcome o = w.run(split + limits.screenBytes);
            if (o == Outcome::Running)
                o = w.run();
            budget -= std::min(budget, std::max<std::uint64_t>(w.bytesWalked(), 1));
            if (o == Outcome::Complete && w.decodedAll())
                return Continuation{split, resume, w.length()};
        }
    }
    return std::nullopt;
}

} // namespace velo::jpeg
