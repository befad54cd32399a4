#include "scan/jpeg/firstwalk.h"

namespace velo::jpeg
{

namespace
{
// A walk looks at the stop between steps of this many bytes.
constexpr std::uint64_t kStepBytes = 4ull << 20;
} // namespace

FirstWalk walkFirst(CardBytes& card, std::uint64_t start, std::uint64_t maxFileBytes,
                    bool testPlain, ResumeSpacing spacing, const std::function<bool()>& giveUp)
{
    Walker walker(card, Layout(start), maxFileBytes);
    walker.testPlainSectors(testPlain);
    walker.keepResumePoints(spacing.everyBytes, spacing.count);
    FirstWalk w;
    w.spacing = spacing;
    do {
        if (giveUp && giveUp()) {
            w.breakAt = walker.state().pos;
            w.work = walker.work();
            return w;
        }
        w.outcome = walker.run(walker.state().pos + kStepBytes);
    } while (w.outcome == Outcome::Running);
    w.cause = walker.cause();
    w.length = walker.length();
    w.breakAt = walker.breakAt();
    w.unreadable = walker.unreadable();
    w.decodedAll = walker.decodedAll();
    w.segments = walker.state().segments;
    w.work = walker.work();
    if (w.outcome == Outcome::Broken)
        w.resumePoints = walker.resumePoints();
    return w;
}

} // namespace velo::jpeg
