#pragma once

#include "scan/jpeg/walker.h"

#include <algorithm>
#include <cstdint>

namespace velo::jpeg
{

// What one search may walk, in Walker::work(). Each step of it (the search for one more
// piece) starts no further candidate once it has spent perSearch, and a walk is given up
// once the search has covered as many bytes as `total` (what the rule as a whole may still
// spend) has left.
struct SearchBudget {
    std::uint64_t perSearch = 0;
    std::uint64_t total = 0;
    std::uint64_t walked = 0;   // spent by this search so far, each walk at least 64
    std::uint64_t work = 0;     // Walker::work() of its walks
    std::uint64_t stepFrom = 0; // `walked` when the step in hand began

    bool spent() const { return walked - stepFrom >= perSearch || walked >= total; }
    // Charges a walk that did `done`.
    void charge(std::uint64_t done)
    {
        walked += std::max<std::uint64_t>(done, 64);
        work += done;
    }
    // Charges a check made of a candidate found: to the rule's budget, not to the step's,
    // so that the checks of candidates that decode do not end a step before the piece it
    // looks for.
    void chargeCheck(std::uint64_t done)
    {
        charge(done);
        stepFrom += std::max<std::uint64_t>(done, 64);
    }
};

// Walks a candidate on from `from` until its outcome is known or the rule's budget is
// spent, and charges its work. Running when the budget ran out first: a walk goes no
// further than the budget left in bytes of the file, and its work is at most a few times
// that, whatever segments it skips.
inline Outcome walkCharged(Walker& w, const WalkState& from, SearchBudget& budget)
{
    const std::uint64_t left = budget.total - std::min(budget.total, budget.walked);
    const Outcome o = w.run(from.pos + left);
    budget.charge(w.work());
    return o;
}

} // namespace velo::jpeg
