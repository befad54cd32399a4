#include "scan/jpeg/jointcheck.h"

#include "scan/jpeg/walker.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace velo::jpeg
{

namespace
{

// MCUs on either side of the joint left out: the one it cuts, and those another photo's
// data takes to fall into step with the codes.
constexpr std::uint64_t kMarginMcus = 2;
// Row pairs needed on each side, and across, before the rows say anything.
constexpr std::size_t kPairsNeeded = 8;
// The walk runs in steps of this many bytes, and no further than 64 of them past the joint.
constexpr std::uint64_t kStepBytes = 16 * 1024;

// MCUs in one row of the image, for the scan `s` is in; 0 when the scan is not one this
// check reads (a scan of one component of several).
std::uint64_t mcusPerRow(const WalkState& s)
{
    const FrameState& f = s.frame;
    if (f.width == 0)
        return 0;
    if (s.scan.mcuBlocks > 1)
        return (f.width + 8u * f.maxH - 1) / (8u * f.maxH);
    return f.components == 1 ? (f.width + 7u) / 8u : 0;
}

bool sameScan(const WalkState& a, const WalkState& b)
{
    return a.phase == WalkState::Phase::Entropy && b.phase == WalkState::Phase::Entropy &&
           a.scan.decoding && b.scan.decoding && a.images == b.images &&
           a.frame.scans == b.frame.scans;
}

// The newest point at or before `joint` in the image data, and the point to walk from: the
// newest one of the same scan at least a row (and the margin, and the pairs a judgement
// needs) before it.
const WalkState* pointBefore(const std::deque<WalkState>& points, std::uint64_t joint,
                             std::uint64_t row, const WalkState*& last)
{
    last = nullptr;
    for (auto it = points.rbegin(); it != points.rend() && !last; ++it)
        if (it->pos <= joint)
            last = &*it;
    if (!last || !sameScan(*last, *last))
        return nullptr;
    const WalkState* from = nullptr;
    for (auto it = points.rbegin(); it != points.rend(); ++it) {
        if (it->pos > last->pos || !sameScan(*it, *last))
            continue;
        from = &*it; // the oldest so far of the scan
        if (it->scan.mcuDone + row + 2 * kMarginMcus <= last->scan.mcuDone)
            break;
    }
    return from;
}

struct RowDifferences {
    std::uint64_t sum = 0;
    std::size_t pairs = 0;
    void add(std::int32_t a, std::int32_t b)
    {
        sum += std::uint64_t(std::abs(a - b));
        ++pairs;
    }
    double mean() const { return pairs ? double(sum) / double(pairs) : 0; }
};

// The DC values of at most `most` MCUs, walking the file laid out by `layout` from `from`
// in steps of `step` bytes while it is short of logical offset `until`.
DcTrace traceFrom(CardBytes& card, const Layout& layout, const WalkState& from, std::size_t most,
                  std::uint64_t until, std::uint64_t step, JointCheck& check)
{
    Walker w(card, layout, check.maxFileBytes);
    w.testPlainSectors(check.testPlainSectors);
    w.countStartsPassed(false);
    w.restore(from);
    DcTrace trace;
    w.traceDc(&trace);
    trace.most = most;
    while (!trace.full() && w.state().pos < until &&
           w.run(w.state().pos + step) == Outcome::Running) {
    }
    check.work += w.work();
    return trace;
}

JointFit judge(const RowDifferences& across, const RowDifferences& above,
               const RowDifferences& below)
{
    // A picture without detail above the joint tells nothing of what may follow it.
    if (across.pairs < kPairsNeeded || above.pairs < kPairsNeeded || above.mean() < 1)
        return JointFit::Unknown;
    // Rows of one picture differ by its own detail; rows of two pictures by everything. The
    // detail is the larger of that above and below the joint: a photo's subject may begin
    // just there.
    const double detail =
        below.pairs < kPairsNeeded ? above.mean() : std::max(above.mean(), below.mean());
    return across.mean() <= 2 * detail + 8 ? JointFit::Fits : JointFit::Jumps;
}

} // namespace

JointFit checkJoint(CardBytes& card, const Layout& layout, std::uint64_t joint,
                    const std::deque<WalkState>& points, JointCheck& check)
{
    const WalkState* last = nullptr;
    const WalkState* from = pointBefore(points, joint, 0, last);
    const std::uint64_t row = last ? mcusPerRow(*last) : 0;
    if (!from || row == 0)
        return JointFit::Unknown;
    from = pointBefore(points, joint, row, last);

    // Three rows past the joint are read, and no more than 1 MiB of data; a row of a large
    // photo is tens of KiB.
    const DcTrace trace =
        traceFrom(card, layout, *from,
                  std::size_t(last->scan.mcuDone - from->scan.mcuDone + 3 * row + 4 * kMarginMcus),
                  joint + 64 * kStepBytes, kStepBytes, check);
    if (trace.entries.empty())
        return JointFit::Unknown;

    // The DC values by MCU number, the last MCU whose first block came whole from before the
    // joint, and the first read past it (the margin below leaves out those whose DC may
    // still have come from before it).
    const std::uint64_t first = trace.entries.front().mcu;
    std::vector<std::int32_t> dc;
    std::uint64_t lastBefore = 0, firstAfter = 0;
    bool before = false, after = false;
    for (const DcTrace::Entry& e : trace.entries) {
        if (e.mcu - first != dc.size())
            break; // the next scan: the trace ends here
        dc.push_back(e.dc);
        if (e.pos <= joint) {
            lastBefore = e.mcu - first;
            before = true;
        } else if (!after && e.pos > joint + 8) {
            firstAfter = e.mcu - first;
            after = true;
        }
    }
    if (!before || !after)
        return JointFit::Unknown;
    const std::uint64_t lastAbove = lastBefore >= kMarginMcus ? lastBefore - kMarginMcus : 0;
    const std::uint64_t firstBelow = firstAfter + kMarginMcus;
    RowDifferences across, above, below;
    for (std::uint64_t m = row; m < dc.size(); ++m) {
        if (m >= firstBelow && m - row <= lastAbove)
            across.add(dc[m], dc[m - row]);
        else if (m <= lastAbove)
            above.add(dc[m], dc[m - row]);
        else if (m - row >= firstBelow)
            below.add(dc[m], dc[m - row]);
    }
    return judge(across, above, below);
}

PictureAbove pictureAbove(CardBytes& card, const Layout& layout, std::uint64_t joint,
                          const std::deque<WalkState>& points, JointCheck& check)
{
    PictureAbove above;
    const WalkState* last = nullptr;
    const WalkState* from = pointBefore(points, joint, 0, last);
    const std::uint64_t row = last ? mcusPerRow(*last) : 0;
    if (!from || row == 0)
        return above;
    from = pointBefore(points, joint, row, last);
    const DcTrace trace =
        traceFrom(card, layout, *from,
                  std::size_t(last->scan.mcuDone - from->scan.mcuDone + row + 2 * kMarginMcus),
                  joint, joint - std::min(joint, from->pos), check);
    for (const DcTrace::Entry& e : trace.entries) {
        if (e.pos > joint || (!above.dc.empty() && e.mcu != above.firstMcu + above.dc.size()))
            break;
        if (above.dc.empty())
            above.firstMcu = e.mcu;
        above.dc.push_back(e.dc);
    }
    if (above.dc.size() < row + kPairsNeeded + kMarginMcus)
        return above;
    above.lastMcu = above.firstMcu + above.dc.size() - 1 - kMarginMcus;
    RowDifferences rows;
    for (std::uint64_t m = row; m + above.firstMcu <= above.lastMcu; ++m)
        rows.add(above.dc[m], above.dc[m - row]);
    above.row = row;
    above.detail = rows.mean();
    return above;
}

bool plainlyJumps(const PictureAbove& above, const DcTrace& below, std::uint64_t joint)
{
    if (above.row == 0 || above.detail < 1)
        return false;
    RowDifferences across;
    std::uint64_t firstBelow = 0;
    for (const DcTrace::Entry& e : below.entries) {
        if (e.pos <= joint + 8)
            continue;
        if (!firstBelow)
            firstBelow = e.mcu + kMarginMcus;
        if (e.mcu < firstBelow || e.mcu < above.row)
            continue;
        const std::uint64_t up = e.mcu - above.row;
        if (up >= above.firstMcu && up <= above.lastMcu)
            across.add(e.dc, above.dc[up - above.firstMcu]);
    }
    // Twice the margin checkJoint() allows: the rows below the joint, which it also weighs,
    // are not known yet.
    return across.pairs >= kPairsNeeded && across.mean() > 4 * above.detail + 16;
}

} // namespace velo::jpeg
