#include "scan/jpeg/jpegcarver.h"

#include "scan/markers.h"

#include <algorithm>

namespace velo::jpeg
{

namespace
{
constexpr std::size_t kStartsForClusterSize = 3;
constexpr std::uint64_t kMostClusterBytes = 256 << 10;
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

// Files begin at cluster starts: the cluster size is the largest power of two (up to
// 256 KiB) that nine starts in ten share their place in, once there are a few of them. A
// start or two elsewhere (an image that begins a sector inside a file not carved whole)
// does not bring it down to the sector.
std::uint64_t JpegCarver::clusterFrom(const std::vector<std::uint64_t>& starts) const
{
    const std::uint64_t sector = card_.sectorBytes();
    if (starts.size() < kStartsForClusterSize)
        return sector;
    for (std::uint64_t sectors = kMostClusterBytes / sector; sectors > 1; sectors /= 2) {
        std::map<std::uint64_t, std::size_t> byPlace; // sector within the cluster, starts
        std::size_t most = 0;
        for (std::uint64_t s : starts)
            most = std::max(most, ++byPlace[s % sectors]);
        if (most * 10 >= starts.size() * 9)
            return sectors * sector;
    }
    return sector;
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

// A piece handed out: no start inside it is taken by the pass, and its first `ownBytes`
// are no candidates for other photos' searches.
void JpegCarver::claim(std::uint64_t cardOffset, std::uint64_t bytes, std::uint64_t ownBytes)
{
    const std::uint64_t s = card_.sectorBytes();
    if (!bytes)
        return;
    const Range r{cardOffset / s, (cardOffset + bytes + s - 1) / s};
    claimed_.push_back(r);
    const std::uint64_t own = std::min(bytes, ownBytes);
    if (own)
        carved_[r.first] = std::max(carved_[r.first], (cardOffset + own + s - 1) / s);
}

void JpegCarver::sector(std::uint64_t number, std::span<const std::uint8_t> bytes)
{
    budget_ += std::int64_t(bytes.size() * settings_.searchBytesPerCardByte);
    while (!waiting_.empty() && waiting_.front().dueAt <= number * card_.sectorBytes() &&
           !stopSeen())
        searchWaiting();
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

// The spacing of the resume points a first walk keeps: every sector while the cluster size
// is not known, every cluster once it is; enough of them to reach maxSplits clusters back.
ResumeSpacing JpegCarver::spacing()
{
    return ResumeSpacing{clusterBytes(), SearchLimits{}.pointsKept};
}

// The first walk of the file that starts at card offset `start`: the one made ahead when
// the pass asks (`byPass`, in the order of the starts) and one was made, else walked now.
FirstWalk JpegCarver::walk(std::uint64_t start, bool testPlain, bool byPass)
{
    std::optional<FirstWalk> ahead;
    if (lookAhead_ && testPlain && byPass)
        ahead = lookAhead_->take(start / card_.sectorBytes(), spacing());
    FirstWalk first = ahead ? std::move(*ahead)
                            : walkFirst(card_, start, settings_.maxFileBytes, testPlain, spacing(),
                                        [this] { return stopSeen(); });
    work_ += first.work;
    return first;
}

// How the file that starts at card offset `start` and was walked as `first` is cut; nothing
// for a start that is no JPEG. `search`: whether a photo that broke off is searched for its
// pieces now, or only said to wait (searchLater).
std::optional<JpegCarver::Decision> JpegCarver::decide(std::uint64_t start, const FirstWalk& first,
                                                       bool testPlain, bool search)
{
    SearchLimits limits;
    limits.clusterBytes = clusterBytes();
    limits.windowBytes = settings_.gapWindowBytes;
    limits.maxFileBytes = settings_.maxFileBytes;
    limits.testPlainSectors = testPlain;

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
    const bool searchable =
        outcome == Outcome::Broken && first.decodedAll && first.cause != BreakCause::TooLong;
    std::optional<Decision> d;
    if (searchable && search)
        d = searchPieces(start, first, limits);
    if (!d)
        d = unfinished(start, first);
    d->plainBreak = plainBreak;
    d->searchLater = searchable && !search;
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
    // A deleted file listed at this start that the first piece fits in is likely this
    // photo: its end of image lies within the listed size.
    const std::uint64_t listed = listedBytes(start);
    if (listed >= first.breakAt) {
        limits.maxFileBytes = std::min(limits.maxFileBytes, listed);
        limits.listedBytes = listed;
    }
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
    const std::uint64_t cluster = clusterBytes();
    const std::uint64_t ownEnd = (start + first.breakAt) / cluster * cluster;
    d.ownBytes = ownEnd > start ? ownEnd - start : 0;
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

} // namespace velo::jpeg
