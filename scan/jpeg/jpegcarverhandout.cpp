// How the JPEG rule hands its files out: at once, or, for a photo that broke off, once the
// pass is far enough past it that the photos found whole around it are known.
#include "scan/jpeg/jpegcarver.h"

#include <algorithm>

namespace velo::jpeg
{

namespace
{
// Photos that broke off waiting for their search, at most: a hostile card can start one in
// every sector.
constexpr std::size_t kWaitingKept = std::size_t(1) << 14;
// The memory their first walks may hold, about; a photo past it is searched at once.
constexpr std::size_t kWaitingHeldBytes = std::size_t(32) << 20;
// Starts of files handed out kept to learn the cluster size from.
constexpr std::size_t kStartsKept = 256;
} // namespace

void JpegCarver::carve(std::uint64_t sector)
{
    const std::uint64_t start = sector * card_.sectorBytes();
    const bool searchNow = settings_.searchDelayBytes == 0;
    FirstWalk first = walk(start, true, true);
    auto d = decide(start, first, true, searchNow);
    // Past the bounds of what may wait, a photo is searched at once, as far as the photos
    // found so far tell.
    if (d && d->searchLater && !wait(start, *d, first))
        d = decide(start, first, true, true);
    if (!d || !d->searchLater)
        handOut(start, std::move(d), searchNow);
}

// Keeps a photo that broke off for its search later, with its first walk; false when too
// many wait, or their walks hold too much memory. Its first piece is the photo's: the pass
// takes no start inside it, and the searches of other photos skip its clusters.
bool JpegCarver::wait(std::uint64_t start, const Decision& unsearched,
                      const std::optional<FirstWalk>& first)
{
    const std::size_t held = first ? LookAhead::heldBytes(*first) : 0;
    if (waiting_.size() >= kWaitingKept || waitingHeldBytes_ + held > kWaitingHeldBytes)
        return false;
    waitingHeldBytes_ += held;
    const std::uint64_t s = card_.sectorBytes();
    const std::uint64_t firstEnd = start + unsearched.pieces.front().second;
    claimed_.push_back({start / s, (firstEnd + s - 1) / s});
    if (unsearched.ownBytes)
        carved_[start / s] =
            std::max(carved_[start / s], (start + unsearched.ownBytes + s - 1) / s);
    waiting_.push_back({start, firstEnd + settings_.searchDelayBytes, unsearched, first});
    return true;
}

// Searches the photo that has waited longest and hands it out.
void JpegCarver::searchWaiting()
{
    Waiting w = std::move(waiting_.front());
    waiting_.pop_front();
    if (w.first)
        waitingHeldBytes_ -= LookAhead::heldBytes(*w.first);
    const std::uint64_t sector = w.start / card_.sectorBytes();
    carved_.erase(sector); // claimed again as its pieces are handed out
    if (settings_.fileStartsAt)
        settings_.fileStartsAt(sector);
    if (stopSeen()) {
        w.unsearched.reason = CloseReason::Stopped;
        handOut(w.start, std::move(w.unsearched), false);
        return;
    }
    // A walk kept with resume points spaced otherwise than the cluster size learned since
    // is taken again.
    const FirstWalk first =
        w.first && w.first->spacing == spacing() ? std::move(*w.first) : walk(w.start, true, false);
    handOut(w.start, decide(w.start, first, true, true), true);
}

std::uint64_t JpegCarver::listedBytes(std::uint64_t start) const
{
    return settings_.listedBytes ? settings_.listedBytes(start) : 0;
}

// A photo may hold bytes after its end of image (a maker's trailer, a byte of padding),
// which no walk can tell from what follows. When the deleted file listed at its start ends
// in the same cluster as the photo's end of image, those bytes are the file's: they are
// added.
void JpegCarver::addListedTail(std::uint64_t start, Decision& d)
{
    if (d.verdict != Verdict::Complete && d.verdict != Verdict::Reassembled &&
        d.verdict != Verdict::Uncertain)
        return;
    const std::uint64_t listed = listedBytes(start);
    std::uint64_t length = 0;
    for (const auto& piece : d.pieces)
        length += piece.second;
    const std::uint64_t cluster = clusterBytes();
    if (listed <= length || (listed - 1) / cluster != (length - 1) / cluster)
        return;
    d.pieces.back().second += listed - length;
}

void JpegCarver::finish()
{
    while (!waiting_.empty())
        searchWaiting();
}

// Hands out the file that starts at card offset `start` as decided, `search` telling
// whether a photo that broke off may be searched for its pieces now.
void JpegCarver::handOut(std::uint64_t start, std::optional<Decision> d, bool search)
{
    const std::uint64_t sectorBytes = card_.sectorBytes();
    const std::uint64_t sector = start / sectorBytes;
    if (!d) {
        FileVerdict notJpeg;
        notJpeg.verdict = Verdict::NotJpeg;
        notJpeg.pieces.push_back({sector, sector});
        events_.verdict(notJpeg);
        return;
    }
    // A sector without a byte of 0x80 or more broke the walk and no further piece was
    // found: perhaps a flat image after all, so the walk is taken again without the test.
    if (d->plainBreak && d->verdict == Verdict::Truncated && !d->searchLater && !stopSeen()) {
        const FirstWalk flat = walk(start, false, false);
        auto again = decide(start, flat, false, search);
        if (again && again->searchLater) {
            if (wait(start, *again, std::nullopt)) // walked again, and first with the test
                return;
            again = decide(start, flat, false, true);
        }
        if (again)
            *d = std::move(*again);
    }

    addListedTail(start, *d);
    FileVerdict verdict;
    verdict.verdict = d->verdict;
    events_.openFile(fileCounter_);
    std::uint64_t own = d->ownBytes;
    for (const auto& [offset, bytes] : d->pieces) {
        const std::uint64_t written = emit(offset, bytes);
        claim(offset, written, own);
        own -= std::min(own, bytes);
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
