#include "scan/jpeg/jpegcarver.h"

#include "scan/markers.h"

#include <algorithm>
#include <numeric>

namespace velo::jpeg
{

namespace
{
constexpr std::size_t kStartsForClusterSize = 3;
constexpr std::size_t kStartsKept = 256;
} // namespace

JpegCarver::JpegCarver(SharedBlocks& blocks, CarveEvents& events, const JpegRuleSettings& settings)
    : JpegCarver(nullptr, &blocks, events, settings)
{
}

JpegCarver::JpegCarver(SectorReader& card, CarveEvents& events, const JpegRuleSettings& settings)
    : JpegCarver(std::make_unique<SharedBlocks>(card, settings.cacheBytes), nullptr, events,
                 settings)
{
}

JpegCarver::JpegCarver(std::unique_ptr<SharedBlocks> own, SharedBlocks* shared, CarveEvents& events,
                       const JpegRuleSettings& settings)
    : ownBlocks_(std::move(own)), card_(ownBlocks_ ? *ownBlocks_ : *shared), events_(events),
      settings_(settings), budget_(std::int64_t(settings.searchAllowanceBytes))
{
    if (settings.lookAheadThreads)
        lookAhead_ = std::make_unique<LookAhead>(
            ownBlocks_ ? *ownBlocks_ : *shared, settings.lookAheadThreads, settings.maxFileBytes,
            settings.lookAheadBytes, settings.lookAheadHeldBytes, settings.stopRequested);
}

bool JpegCarver::stopSeen()
{
    if (!stopped_ && settings_.stopRequested && settings_.stopRequested())
        stopped_ = true;
    return stopped_;
}

std::uint64_t JpegCarver::clusterBytes()
{
    return settings_.clusterBytes ? settings_.clusterBytes : clusterFrom(starts_);
}

// Files begin at cluster starts: the largest common divisor of the distances between
// their first sectors is the cluster size, once there are a few of them.
std::uint64_t JpegCarver::clusterFrom(const std::vector<std::uint64_t>& starts) const
{
    std::uint64_t g = 0;
    if (starts.size() >= kStartsForClusterSize)
        for (std::uint64_t s : starts)
            g = std::gcd(g, s > starts.front() ? s - starts.front() : starts.front() - s);
    return (g ? g : 1) * card_.sectorBytes();
}

// The file's pieces, as card offsets and lengths, in the file's order.
std::vector<std::pair<std::uint64_t, std::uint64_t>> JpegCarver::piecesOf(const Layout& layout,
                                                                          std::uint64_t length)
{
    std::vector<std::pair<std::uint64_t, std::uint64_t>> pieces;
    std::uint64_t from = 0, at = layout.start();
    for (const Layout::Jump& j : layout.jumps()) {
        pieces.push_back({at, j.logical - from});
        from = j.logical;
        at = j.card;
    }
    pieces.push_back({at, length - from});
    return pieces;
}

// Whether the sector holds part of a file carved before: no piece of another photo.
bool JpegCarver::carved(std::uint64_t sector) const
{
    auto after = carved_.upper_bound(sector);
    return after != carved_.begin() && sector < std::prev(after)->second;
}

bool JpegCarver::claimed(std::uint64_t sector) const
{
    return std::any_of(claimed_.begin(), claimed_.end(),
                       [&](const Range& r) { return sector >= r.first && sector < r.end; });
}

void JpegCarver::claim(std::uint64_t cardOffset, std::uint64_t bytes)
{
    const std::uint64_t s = card_.sectorBytes();
    if (!bytes)
        return;
    const Range r{cardOffset / s, (cardOffset + bytes + s - 1) / s};
    claimed_.push_back(r);
    carved_[r.first] = std::max(carved_[r.first], r.end);
}

void JpegCarver::sector(std::uint64_t number, std::span<const std::uint8_t> bytes)
{
    budget_ += std::int64_t(bytes.size() * settings_.searchBytesPerCardByte);
    std::erase_if(claimed_, [&](const Range& r) { return r.end <= number; });
    if (claimed(number) || stopSeen())
        return;
    if (beginsJpeg(bytes))
        carve(number);
}

// The first sector after `from` and before `to` (card offsets) that begins FF D8 FF, as a
// card offset; `to` when there is none.
std::uint64_t JpegCarver::nextStartBefore(std::uint64_t from, std::uint64_t to)
{
    const std::uint64_t s = card_.sectorBytes();
    for (std::uint64_t sector = from / s + 1; sector * s < to; ++sector)
        if (card_.startsJpeg(sector))
            return sector * s;
    return to;
}

// The card offset just past the first FF D9 from `from` on, before any sector that starts
// another file or holds 64 bytes without one of 0x80 or more, within the largest file;
// 0 when there is none.
std::uint64_t JpegCarver::endMarkerAfter(std::uint64_t start, std::uint64_t from)
{
    const std::uint64_t sectorBytes = card_.sectorBytes();
    const std::uint64_t last = std::min(card_.sizeBytes(), start + settings_.maxFileBytes);
    bool afterFF = false;
    for (std::uint64_t at = from; at < last;) {
        const std::uint64_t sector = at / sectorBytes;
        const std::uint64_t inSector = (sector + 1) * sectorBytes - at;
        if (at % sectorBytes == 0 && card_.startsJpeg(sector))
            return 0;
        const auto span = card_.at(at);
        const std::size_t n = std::size_t(std::min<std::uint64_t>(span.size(), inSector));
        if (n == 0)
            return 0;
        if (n >= kPlainRunBytes && plainBytes(span.first(n)))
            return 0;
        for (std::size_t i = 0; i < n; ++i) {
            if (afterFF && span[i] == 0xD9)
                return at + i + 1;
            afterFF = span[i] == 0xFF;
        }
        at += n;
    }
    return 0;
}

// Hands out the card's bytes; returns how many, fewer than asked where a sector could not
// be read (or the source was given up on).
std::uint64_t JpegCarver::emit(std::uint64_t cardOffset, std::uint64_t bytes)
{
    std::uint64_t done = 0;
    while (done < bytes) {
        const auto span = card_.at(cardOffset + done);
        if (span.empty())
            break;
        const std::size_t n = std::size_t(std::min<std::uint64_t>(span.size(), bytes - done));
        events_.append(span.first(n));
        done += n;
    }
    return done;
}

// Why the bytes at `cardOffset` are not there: a sector that failed, or a source that
// has gone, when the sector may be good and the source merely dead.
CloseReason JpegCarver::whyUnread(std::uint64_t cardOffset)
{
    return card_.unreadable(cardOffset) && !card_.sourceGone() ? CloseReason::Unreadable
                                                               : CloseReason::EndOfScan;
}

// A file whose decision was cut short: it holds what its walk covered, up to the next
// start, and at least its first sector.
JpegCarver::Decision JpegCarver::cutShort(std::uint64_t start, std::uint64_t walkedTo,
                                          CloseReason reason)
{
    const std::uint64_t end = std::min(start + walkedTo, card_.sizeBytes());
    const std::uint64_t to = std::max(nextStartBefore(start, end), start + card_.sectorBytes());
    Decision d;
    d.verdict = Verdict::Truncated;
    d.reason = reason;
    d.pieces.push_back({start, to - start});
    return d;
}

// How the file that starts at card offset `start` is cut; nothing for a start that is no
// JPEG.
std::optional<JpegCarver::Decision> JpegCarver::decide(std::uint64_t start, bool testPlain)
{
    const std::uint64_t sectorBytes = card_.sectorBytes();
    const std::uint64_t cluster = clusterBytes();
    SearchLimits limits;
    limits.clusterBytes = cluster;
    limits.windowBytes = settings_.gapWindowBytes;
    limits.maxFileBytes = settings_.maxFileBytes;
    limits.testPlainSectors = testPlain;

    // Points every sector while the cluster size is not known, every cluster once it is;
    // enough of them to reach maxSplits clusters back.
    ResumeSpacing spacing;
    spacing.everyBytes = cluster;
    spacing.count = limits.pointsKept;
    std::optional<FirstWalk> ahead;
    if (lookAhead_ && testPlain)
        ahead = lookAhead_->take(start / sectorBytes, spacing);
    const FirstWalk first = ahead ? std::move(*ahead)
                                  : walkFirst(card_, start, settings_.maxFileBytes, testPlain,
                                              spacing, [this] { return stopSeen(); });
    work_ += first.work;
    const Outcome outcome = first.outcome;
    if (outcome == Outcome::Running)
        return cutShort(start, first.breakAt, CloseReason::Stopped);

    const bool plainBreak = outcome == Outcome::Broken && first.cause == BreakCause::PlainSector;
    if (outcome == Outcome::Complete) {
        Decision d;
        d.verdict = Verdict::Complete;
        d.pieces.push_back({start, first.length});
        return d;
    }
    if (outcome == Outcome::Broken && first.segments == 0)
        return std::nullopt;
    std::optional<Decision> d;
    if (outcome == Outcome::Broken && first.decodedAll && first.cause != BreakCause::TooLong)
        d = searchPieces(start, first, limits);
    if (!d)
        d = unfinished(start, first);
    d->plainBreak = plainBreak;
    return d;
}

// The photo's further pieces, searched for from where its first walk broke: the file put
// back together, or cut short when the stop came; nothing when none were found.
std::optional<JpegCarver::Decision>
JpegCarver::searchPieces(std::uint64_t start, const FirstWalk& first, SearchLimits limits)
{
    const std::uint64_t sectorBytes = card_.sectorBytes();
    // Starts seen ahead help learn the cluster size when few files came before.
    if (!settings_.clusterBytes && starts_.size() < kStartsForClusterSize) {
        std::vector<std::uint64_t> starts = starts_;
        starts.push_back(start / sectorBytes);
        const std::uint64_t last =
            std::min(card_.sizeBytes(), start + settings_.gapWindowBytes) / sectorBytes;
        for (std::uint64_t s = start / sectorBytes + 1; s < last && starts.size() < 16; ++s)
            if (card_.startsJpeg(s))
                starts.push_back(s);
        limits.clusterBytes = clusterFrom(starts);
    }
    // One search may start candidates while it has walked less than what the card has
    // earned so far, and no more than a little over twice the first piece: a photo that
    // is merely corrupt costs little. A candidate may walk on as far as the card's
    // budget goes, so that a second piece longer than that still comes back.
    SearchBudget budget;
    budget.total = budget_ > 0 ? std::uint64_t(budget_) : 0;
    budget.perSearch = std::min(budget.total, settings_.searchBytesPerSearch + 2 * first.breakAt);
    const auto found = findPieces(
        card_, start, first.resumePoints, first.breakAt, limits, budget,
        [&](std::uint64_t offset) { return carved(offset / sectorBytes); },
        [this] { return stopSeen(); });
    // What the last walk took in past the budget is owed, so that the work stays linear.
    budget_ -= std::int64_t(budget.walked);
    searchWalked_ += budget.walked;
    work_ += budget.work;
    if (stopSeen())
        return cutShort(start, first.breakAt, CloseReason::Stopped);
    if (!found)
        return std::nullopt;
    Decision d;
    d.verdict = found->jointsSeen ? Verdict::Reassembled : Verdict::Uncertain;
    d.pieces = piecesOf(found->layout, found->length);
    return d;
}

// A photo that did not come back whole: damaged in place when its end of image follows,
// truncated otherwise.
JpegCarver::Decision JpegCarver::unfinished(std::uint64_t start, const FirstWalk& first)
{
    Decision d;
    // A photo damaged in place (a bad code, a stray marker) still has its end of image
    // further on. Up to the first FF D9 before another start, text or zeros, it is written
    // whole, so that a repair tool gets all of it, and said to be damaged.
    if (first.outcome == Outcome::Broken && first.cause != BreakCause::NextStart &&
        first.cause != BreakCause::TooLong && first.cause != BreakCause::PlainSector) {
        if (const std::uint64_t end = endMarkerAfter(start, start + first.breakAt)) {
            d.verdict = Verdict::Damaged;
            d.pieces.push_back({start, end - start});
            return d;
        }
    }
    d.verdict = Verdict::Truncated;
    // A segment's length may point past the card's end: the file ends with the card.
    const std::uint64_t breakAt = std::min(start + first.breakAt, card_.sizeBytes());
    const std::uint64_t to = nextStartBefore(start, breakAt);
    d.pieces.push_back({start, to - start});
    if (first.outcome == Outcome::DataEnd)
        d.reason = first.unreadable ? whyUnread(start + first.breakAt) : CloseReason::EndOfScan;
    else if (first.cause == BreakCause::NextStart || to < breakAt)
        d.reason = CloseReason::NextStart;
    else
        d.reason = CloseReason::BadData;
    return d;
}

void JpegCarver::carve(std::uint64_t sector)
{
    const std::uint64_t sectorBytes = card_.sectorBytes();
    const std::uint64_t start = sector * sectorBytes;
    auto d = decide(start, true);
    if (!d) {
        FileVerdict notJpeg;
        notJpeg.verdict = Verdict::NotJpeg;
        notJpeg.pieces.push_back({sector, sector});
        events_.verdict(notJpeg);
        return;
    }
    // A sector without a byte of 0x80 or more broke the walk and no second piece was
    // found: perhaps a flat image after all, so the walk is taken again without the test.
    if (d->plainBreak && d->verdict == Verdict::Truncated)
        if (auto again = decide(start, false))
            *d = std::move(*again);

    FileVerdict verdict;
    verdict.verdict = d->verdict;
    events_.openFile(fileCounter_);
    for (const auto& [offset, bytes] : d->pieces) {
        const std::uint64_t written = emit(offset, bytes);
        claim(offset, written);
        if (written)
            verdict.pieces.push_back({offset / sectorBytes, (offset + written - 1) / sectorBytes});
        if (written < bytes) {
            // Bytes the walk read are gone now (a sector that failed on this read, a
            // source that stopped answering): the file ends where they do, whatever the
            // walk found.
            verdict.verdict = Verdict::Truncated;
            d->reason = whyUnread(offset + written);
            break;
        }
    }
    events_.verdict(verdict);
    events_.closeFile(d->reason);
    ++fileCounter_;
    if (starts_.size() < kStartsKept)
        starts_.push_back(sector);
}

} // namespace velo::jpeg
