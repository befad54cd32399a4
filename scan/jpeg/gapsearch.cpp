#include "scan/jpeg/gapsearch.h"

#include "scan/jpeg/headercut.h"

#include <algorithm>
#include <vector>

namespace velo::jpeg
{

namespace
{

// Where the search for the next piece stands: the file so far, the resume points of the
// walk that broke, and where it broke.
struct Trail {
    Layout layout;
    std::deque<WalkState> points;
    std::uint64_t breakAt = 0;
};

// A candidate taken: either the file's last piece (length set) or one it goes on from.
struct Step {
    Trail trail;
    std::uint64_t length = 0; // non-zero: the walk reached the end of image
    JointFit fit = JointFit::Unknown;
};

using Cut = std::pair<std::uint64_t, const WalkState*>; // logical offset, point to walk from

// The cluster boundaries in the last piece at or before the break from which the walk can
// be taken up again, newest first, each with the newest point at or before it.
std::vector<Cut> cutsBefore(const Trail& t, const SearchLimits& limits)
{
    const std::uint64_t cluster = limits.clusterBytes;
    std::vector<Cut> cuts;
    for (std::uint64_t split = t.breakAt / cluster * cluster;
         split > t.layout.lastPieceFrom() && cuts.size() < limits.maxSplits; split -= cluster) {
        const WalkState* from = nullptr;
        for (auto it = t.points.rbegin(); it != t.points.rend() && !from; ++it)
            if (it->pos <= split)
                from = &*it;
        if (!from)
            break;
        cuts.push_back({split, from});
    }
    return cuts;
}

// The card offsets where a piece may go on after a cut at card offset `cutCard`: each
// cluster past it up to the window, or to the card's end.
class Candidates
{
public:
    Candidates(std::uint64_t cutCard, const SearchLimits& limits, std::uint64_t cardBytes)
        : cutCard_(cutCard), cluster_(limits.clusterBytes), window_(limits.windowBytes),
          cardBytes_(cardBytes), next_(cutCard + limits.clusterBytes)
    {
    }

    bool next(std::uint64_t& resume)
    {
        if (next_ - cutCard_ > window_ || next_ >= cardBytes_)
            return false;
        resume = next_;
        next_ += cluster_;
        return true;
    }

private:
    std::uint64_t cutCard_, cluster_, window_, cardBytes_, next_;
};

// Runs `w` on to `pauseAt`, or as far as the budget goes, and charges what it walked.
Outcome runCharged(Walker& w, std::uint64_t pauseAt, SearchBudget& budget, std::uint64_t& charged)
{
    const std::uint64_t left = budget.total - std::min(budget.total, budget.walked);
    const Outcome o = w.run(std::min(pauseAt, w.state().pos + left));
    budget.charge(w.work() - charged);
    charged = w.work();
    return o;
}

// The points of the walk so far up to `from`, then those of the walk from there on.
std::deque<WalkState> joinPoints(const std::deque<WalkState>& before, const WalkState& from,
                                 const std::deque<WalkState>& after, std::size_t most)
{
    std::deque<WalkState> points;
    for (const WalkState& p : before)
        if (p.pos <= from.pos)
            points.push_back(p);
    for (const WalkState& p : after)
        if (p.pos > from.pos)
            points.push_back(p);
    while (points.size() > most)
        points.pop_front();
    return points;
}

enum class Tried { No, Taken, BudgetOut };

// Walks the file on from `from` with the piece after the cut at `cut` going on at card
// offset `resume`. A piece is tried when its data decodes on for a whole cluster past the
// cut (or to the end of image before that), and then walked on to the end of image or to
// where it breaks somewhere further on; `step` tells which, with what the picture says of
// the joint.
Tried tryCandidate(CardBytes& card, const Trail& t, std::uint64_t cut, const WalkState& from,
                   std::uint64_t resume, const SearchLimits& limits, SearchBudget& budget,
                   Step& step)
{
    Layout layout = t.layout.trimmed(cut);
    layout.jump(cut, resume);
    Walker w(card, layout, limits.maxFileBytes);
    w.testPlainSectors(limits.testPlainSectors);
    w.countStartsPassed(false);
    w.keepResumePoints(limits.clusterBytes, limits.pointsKept);
    w.restore(from);
    std::uint64_t charged = 0;
    Outcome o = runCharged(w, cut + limits.clusterBytes, budget, charged);
    if (o == Outcome::Running && w.state().pos < cut + limits.clusterBytes)
        return Tried::BudgetOut;
    if ((o != Outcome::Running && o != Outcome::Complete) || !w.decodedAll())
        return Tried::No;
    JointCheck check{limits.maxFileBytes, limits.testPlainSectors};
    const JointFit fit = checkJoint(card, layout, cut, t.points, check);
    budget.chargeCheck(check.work);
    if (o == Outcome::Running)
        o = runCharged(w, Layout::kNoEnd, budget, charged);
    if (o == Outcome::Running)
        return Tried::BudgetOut;
    if (!w.decodedAll() || (o == Outcome::Broken && w.cause() == BreakCause::TooLong) ||
        o == Outcome::DataEnd)
        return Tried::No;
    step.fit = fit;
    step.length = o == Outcome::Complete ? w.length() : 0;
    step.trail.layout = layout;
    step.trail.breakAt = w.breakAt();
    if (!step.length)
        step.trail.points = joinPoints(t.points, from, w.resumePoints(), limits.pointsKept);
    return Tried::Taken;
}

// A first piece that ends inside a segment skipped by its length: the histograms pick the
// cut within it.
void refineHeaderCut(CardBytes& card, const WalkState& from, const SearchLimits& limits,
                     SearchBudget& budget, const std::function<bool(std::uint64_t)>& taken,
                     Step& step)
{
    const Layout& layout = step.trail.layout;
    if (from.phase == WalkState::Phase::Entropy || !step.length || layout.jumps().size() != 1)
        return;
    const Layout::Jump j = layout.jumps().front();
    const HeaderCutLimits h{limits.clusterBytes, limits.maxFileBytes, limits.testPlainSectors};
    const TwoPieces best = pickHeaderCut(
        card, layout.start(), from, TwoPieces{j.logical, j.card, step.length}, h, budget, taken);
    Layout refined(layout.start());
    refined.jump(best.split, best.resume);
    step.trail.layout = refined;
    step.length = best.length;
}

// The next piece: the first candidate after which the picture is seen to go on across the
// joint, or whose walk reaches the end of image where the picture cannot tell (a joint in
// the header, or too near the image's top). A piece in the middle of a file is taken only
// on the picture's evidence, never on the data decoding alone. A last piece whose picture
// jumps at the joint is kept aside, taken only when no candidate of the step does better:
// the picture also changes where the photo's subject does.
std::optional<Step> nextPiece(CardBytes& card, const Trail& t, const SearchLimits& limits,
                              SearchBudget& budget, const std::function<bool(std::uint64_t)>& taken,
                              const std::function<bool()>& stop)
{
    // The newest cut first, with every gap the window allows: the data usually stops
    // decoding within a cluster of the cut. Older cuts make the walk resume inside the
    // photo's own data, which decodes (wrongly) for long, so they come last.
    std::optional<Step> aside;
    for (const auto& [cut, from] : cutsBefore(t, limits)) {
        const std::uint64_t cutCard = t.layout.cardOffset(cut - 1) + 1;
        Candidates candidates(cutCard, limits, card.sizeBytes());
        for (std::uint64_t resume = 0; candidates.next(resume);) {
            if (budget.spent() || (stop && stop()))
                return aside;
            if (taken(resume) || t.layout.holds(resume, cut))
                continue;
            Step step;
            const Tried tried = tryCandidate(card, t, cut, *from, resume, limits, budget, step);
            if (tried == Tried::BudgetOut)
                return aside;
            if (tried != Tried::Taken)
                continue;
            if (step.fit == JointFit::Fits || (step.length && step.fit == JointFit::Unknown)) {
                refineHeaderCut(card, *from, limits, budget, taken, step);
                return step;
            }
            if (step.length && !aside)
                aside = std::move(step);
        }
    }
    return aside;
}

} // namespace

std::optional<FoundPieces> findPieces(CardBytes& card, std::uint64_t start,
                                      const std::deque<WalkState>& points, std::uint64_t breakAt,
                                      const SearchLimits& limits, SearchBudget& budget,
                                      const std::function<bool(std::uint64_t)>& taken,
                                      const std::function<bool()>& stop)
{
    if (points.empty() || limits.clusterBytes == 0)
        return std::nullopt;
    Trail trail{Layout(start), points, breakAt};
    bool seen = true;
    for (std::size_t piece = 1; piece < limits.maxPieces; ++piece) {
        budget.stepFrom = budget.walked;
        auto step = nextPiece(card, trail, limits, budget, taken, stop);
        if (!step)
            return std::nullopt;
        seen = seen && step->fit == JointFit::Fits;
        if (step->length)
            return FoundPieces{step->trail.layout, step->length, seen};
        trail = std::move(step->trail);
    }
    return std::nullopt;
}

} // namespace velo::jpeg
