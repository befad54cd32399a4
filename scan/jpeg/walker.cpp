#include "scan/jpeg/walker.h"

#include "scan/markers.h"

#include <algorithm>
#include <cstring>

namespace velo::jpeg
{

Walker::Walker(CardBytes& card, Layout layout, std::uint64_t maxFileBytes)
    : card_(card), layout_(layout), limit_(maxFileBytes)
{
}

void Walker::keepResumePoints(std::uint64_t every, std::size_t count)
{
    every_ = every;
    keep_ = count;
    nextPoint_ = every ? (s_.pos / every + 1) * every : 0;
}

void Walker::restore(const WalkState& state)
{
    s_ = state;
    outcome_ = Outcome::Running;
    cause_ = BreakCause::None;
    noMoreData_ = false;
    cur_ = end_ = nullptr;
    span_ = {};
    lastSectorChecked_ = std::numeric_limits<std::uint64_t>::max();
    if (every_)
        nextPoint_ = (s_.pos / every_ + 1) * every_;
}

void Walker::pushResumePoint()
{
    if (!keep_)
        return;
    if (resumePoints_.size() == keep_)
        resumePoints_.pop_front();
    resumePoints_.push_back(s_);
}

void Walker::fail(BreakCause cause, std::uint64_t at)
{
    outcome_ = Outcome::Broken;
    cause_ = cause;
    breakAt_ = at;
}

void Walker::dataEnded()
{
    if (s_.pos >= limit_) {
        fail(BreakCause::TooLong, s_.pos);
        return;
    }
    outcome_ = Outcome::DataEnd;
    breakAt_ = s_.pos;
    unreadable_ = card_.unreadable(layout_.cardOffset(s_.pos));
}

Outcome Walker::run(std::uint64_t pauseAt)
{
    pauseAt_ = pauseAt;
    while (outcome_ == Outcome::Running) {
        if (s_.pos >= pauseAt_ && s_.phase != WalkState::Phase::Done)
            break;
        switch (s_.phase) {
        case WalkState::Phase::Soi:
            stepSoi();
            break;
        case WalkState::Phase::Marker:
            stepMarker();
            break;
        case WalkState::Phase::Entropy:
            if (s_.scan.decoding)
                decodeScan();
            else
                walkScan();
            break;
        case WalkState::Phase::Done:
            outcome_ = Outcome::Complete;
            break;
        }
    }
    return outcome_;
}

// --- bytes ------------------------------------------------------------------------------

std::size_t Walker::copy(std::uint64_t at, std::uint8_t* into, std::size_t count)
{
    span_ = {}; // reading here may drop the block in hand from the cache
    std::size_t done = 0;
    while (done < count) {
        const std::uint64_t logical = at + done;
        if (logical >= limit_)
            break;
        auto span = card_.at(layout_.cardOffset(logical));
        std::size_t n = std::min<std::size_t>(span.size(), count - done);
        n = std::size_t(std::min<std::uint64_t>(n, layout_.pieceEnd(logical) - logical));
        n = std::size_t(std::min<std::uint64_t>(n, limit_ - logical));
        if (n == 0)
            break;
        std::memcpy(into + done, span.data(), n);
        done += n;
    }
    walked_ += done;
    return done;
}

// The bytes in hand [cur_, end_) from s_.pos on: up to the end of the card's block, the
// split, the size limit, the next resume point while decoding, and the sector's end when
// plain sectors are tested. False when there are none: the data ends, or the sector is
// plain (the walk breaks there).
bool Walker::fetch()
{
    if (s_.pos >= limit_)
        return false;
    const std::uint64_t cardAt = layout_.cardOffset(s_.pos);
    // The card's bytes come a block at a time; the block in hand serves until it is used up.
    if (cardAt < spanAt_ || cardAt >= spanAt_ + span_.size()) {
        span_ = card_.at(cardAt);
        spanAt_ = cardAt;
        if (span_.empty())
            return false;
    }
    const std::uint8_t* from = span_.data() + (cardAt - spanAt_);
    std::uint64_t n = span_.size() - (cardAt - spanAt_);
    n = std::min(n, layout_.pieceEnd(s_.pos) - s_.pos);
    n = std::min(n, limit_ - s_.pos);
    if (every_ && s_.scan.decoding)
        n = std::min(n, nextPoint_ - s_.pos);
    if (testPlain_) {
        // Sector by sector: entropy-coded data never runs 64 bytes without a byte of 0x80 or
        // more.
        const std::uint32_t sectorBytes = card_.sectorBytes();
        const std::uint64_t toSectorEnd = sectorBytes - cardAt % sectorBytes;
        n = std::min(n, toSectorEnd);
        const std::uint64_t sector = cardAt / sectorBytes;
        if (sector != lastSectorChecked_) {
            lastSectorChecked_ = sector;
            if (n >= kPlainRunBytes && plainBytes({from, std::size_t(n)})) {
                fail(BreakCause::PlainSector, s_.pos);
                return false;
            }
        }
    }
    cur_ = from;
    end_ = cur_ + n;
    walked_ += n;
    return true;
}

// --- entropy-coded data -----------------------------------------------------------------

// A bit reader over the walk's bit state and the bytes in hand; keep() takes its state
// back, the decoder's copies in registers being the newest.
BitReader Walker::readerInHand() const
{
    return BitReader(s_.bits, s_.pos, cur_, end_);
}

void Walker::keep(const BitReader& reader)
{
    s_.bits = reader.state();
    s_.pos = reader.pos();
    cur_ = reader.next();
    end_ = reader.end();
}

// The reader has used up the bytes in hand. A resume point falls exactly here when one is
// due (fetch() stops short of it for that), and holds the reader's state and the place in
// the MCU, which the decoder wrote into s_.scan before it asked.
std::span<const std::uint8_t> Walker::more(const BitReader& reader)
{
    keep(reader);
    if (every_ && s_.pos == nextPoint_) {
        pushResumePoint();
        nextPoint_ += every_;
    }
    if (!fetch()) {
        noMoreData_ = true;
        return {};
    }
    return {cur_, end_};
}

// The entropy-coded data of a decoded scan. Pauses, restarts and the scan's end come
// between two MCUs: the decoder stops there for them.
void Walker::decodeScan()
{
    BlockDecoder decoder(s_.frame, s_.scan, oneCodeAtATime_);
    decoder.traceDc(trace_);
    ScanState& scan = s_.scan;
    const std::uint32_t interval = s_.frame.restartInterval;
    BitReader reader = readerInHand();
    for (;;) {
        if (scan.blockInMcu == 0 && scan.k == 0) {
            if (reader.pos() >= pauseAt_)
                return keep(reader);
            if (scan.mcuDone == scan.mcuTotal) {
                endOfScanData(reader, false);
                return;
            }
            if (interval && scan.sinceRestart == interval) {
                if (!endOfScanData(reader, true))
                    return;
                reader = readerInHand();
            }
        }
        const BlockEnd end = decoder.decodeMcus(reader, *this, pauseAt_);
        if (end != BlockEnd::Decoded)
            return stopDecoding(end, reader);
    }
}

// Decoding stopped inside an MCU: why the walk ends there.
void Walker::stopDecoding(BlockEnd end, const BitReader& reader)
{
    keep(reader);
    switch (end) {
    case BlockEnd::BadCode:
        return fail(BreakCause::BadCode, s_.pos);
    case BlockEnd::BadValue:
        return fail(BreakCause::BadValue, s_.pos);
    case BlockEnd::OutOfBits:
        if (s_.bits.marker)
            return fail(s_.bits.marker == marker::kStartOfImage ? BreakCause::NextStart
                                                                : BreakCause::MarkerInData,
                        s_.bits.markerAt);
        if (outcome_ == Outcome::Running)
            dataEnded();
        return;
    case BlockEnd::Decoded:
    case BlockEnd::Stopped:
        return; // the source broke the walk off already
    }
}

// At a restart or at the end of a scan: the data must end within the last byte read
// before the marker. True when decoding goes on (after a restart marker); the reader's
// state is in s_ either way.
bool Walker::endOfScanData(BitReader& reader, bool restart)
{
    reader.fill(*this);
    keep(reader);
    if (outcome_ != Outcome::Running)
        return false;
    const BreakCause wrongEnd = restart ? BreakCause::RestartOrder : BreakCause::ScanEnd;
    BitState& bits = s_.bits;
    if (bits.marker == 0) {
        if (noMoreData_)
            dataEnded();
        else
            fail(wrongEnd, s_.pos);
        return false;
    }
    if (bits.count >= 8) {
        fail(wrongEnd, bits.markerAt);
        return false;
    }
    if (restart) {
        if (bits.marker != 0xD0 + s_.scan.nextRestart) {
            fail(bits.marker == marker::kStartOfImage ? BreakCause::NextStart
                                                      : BreakCause::RestartOrder,
                 bits.markerAt);
            return false;
        }
        s_.scan.nextRestart = (s_.scan.nextRestart + 1) & 7;
        s_.scan.sinceRestart = 0;
        s_.scan.dcPred.fill(0);
    } else {
        s_.phase = WalkState::Phase::Marker;
        s_.pos = bits.markerAt;
        cur_ = end_ = nullptr;
    }
    bits.bits = 0;
    bits.count = 0;
    bits.marker = 0;
    return true;
}

// Scans that are not decoded: every FF must be stuffing, a restart marker in sequence,
// or the marker that ends the scan.
void Walker::walkScan()
{
    for (;;) {
        if (cur_ == end_) {
            if (s_.pos >= pauseAt_)
                return;
            if (!fetch())
                return outcome_ == Outcome::Running ? dataEnded() : void();
        }
        if (!s_.bits.afterFF) {
            const auto* ff =
                static_cast<const std::uint8_t*>(std::memchr(cur_, 0xFF, std::size_t(end_ - cur_)));
            if (!ff) {
                s_.pos += std::uint64_t(end_ - cur_);
                cur_ = end_;
                continue;
            }
            s_.pos += std::uint64_t(ff - cur_) + 1;
            cur_ = ff + 1;
            s_.bits.afterFF = true;
            continue;
        }
        const std::uint8_t b = *cur_++;
        ++s_.pos;
        if (b == 0xFF)
            continue;
        s_.bits.afterFF = false;
        if (b == 0x00)
            continue;
        if (b >= 0xD0 && b <= 0xD7) {
            if (s_.frame.restartInterval && b != 0xD0 + s_.scan.nextRestart)
                return fail(BreakCause::RestartOrder, s_.pos - 2);
            s_.scan.nextRestart = (b - 0xD0 + 1) & 7;
            continue;
        }
        if (b == marker::kStartOfImage)
            return fail(BreakCause::NextStart, s_.pos - 2);
        s_.pos -= 2;
        s_.phase = WalkState::Phase::Marker;
        cur_ = end_ = nullptr;
        return;
    }
}

} // namespace velo::jpeg
