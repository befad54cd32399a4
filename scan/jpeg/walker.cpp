#include "scan/jpeg/walker.h"

#include "scan/jpeg/segments.h"
#include "scan/markers.h"

#include <algorithm>
#include <cstring>

namespace velo::jpeg
{

namespace
{

bool isFrameMarker(std::uint8_t m)
{
    return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
}

// Look-ups that hold nothing: every code is decoded on its own.
const std::array<std::int16_t, 1 << HuffmanTable::kDcBits> kNoDcLookup{};
const std::array<std::uint32_t, 1 << HuffmanTable::kRunBits> kNoAcLookup{};
const std::array<std::uint16_t, 1 << HuffmanTable::kFirstBits> kNoFirstLookup{};

} // namespace

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
            if (s_.decoding)
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
    if (every_ && s_.decoding)
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

// Fills the bit buffer to more than 56 bits, unless a marker or the end of the data
// comes first.
void Walker::refill()
{
    while (s_.bitCount <= 56 && s_.marker == 0) {
        if (cur_ == end_) {
            if (every_ && s_.pos == nextPoint_) {
                pushResumePoint();
                nextPoint_ += every_;
            }
            if (!fetch()) {
                noMoreData_ = true;
                return;
            }
        }
        const std::uint8_t b = *cur_++;
        ++s_.pos;
        if (s_.afterFF) {
            if (b == 0x00) {
                s_.afterFF = false;
                s_.bits |= std::uint64_t(0xFF) << (56 - s_.bitCount);
                s_.bitCount += 8;
            } else if (b != 0xFF) {
                s_.afterFF = false;
                s_.marker = b;
                s_.markerAt = s_.pos - 2;
            }
        } else if (b == 0xFF) {
            s_.afterFF = true;
        } else {
            s_.bits |= std::uint64_t(b) << (56 - s_.bitCount);
            s_.bitCount += 8;
        }
    }
}

// --- segments ---------------------------------------------------------------------------

void Walker::stepSoi()
{
    std::uint8_t two[2];
    if (copy(s_.pos, two, 2) < 2)
        return dataEnded();
    if (two[0] != 0xFF || two[1] != 0xD8)
        return fail(BreakCause::NotAMarker, s_.pos);
    s_.pos += 2;
    s_.phase = WalkState::Phase::Marker;
}

void Walker::stepMarker()
{
    ++steps_;
    pushResumePoint();
    const std::uint64_t at = s_.pos;
    std::uint8_t b[4];
    if (copy(at, b, 2) < 2)
        return dataEnded();
    if (b[0] != 0xFF)
        return fail(BreakCause::NotAMarker, at);
    // Fill bytes (FF) may come before a marker.
    std::uint64_t codeAt = at + 1;
    std::uint8_t code = b[1];
    while (code == 0xFF) {
        if (codeAt - at > 1024)
            return fail(BreakCause::NotAMarker, at);
        ++codeAt;
        if (copy(codeAt, &code, 1) < 1) {
            s_.pos = codeAt;
            return dataEnded();
        }
    }
    if (code == 0xD8)
        return fail(BreakCause::NextStart, at);
    if (code == 0xD9) {
        if (s_.scans == 0)
            return fail(BreakCause::BadSegment, at);
        s_.pos = codeAt + 1;
        return imageEnded();
    }
    if (code == 0x00 || code == 0x01 || (code >= 0x02 && code < 0xC0) ||
        (code >= 0xD0 && code <= 0xD7))
        return fail(BreakCause::BadSegment, at);

    if (copy(codeAt + 1, b, 2) < 2) {
        s_.pos = codeAt + 1;
        return dataEnded();
    }
    const std::uint16_t length = be16(b);
    if (length < 2)
        return fail(BreakCause::BadSegment, at);
    const std::uint64_t payloadAt = codeAt + 3;
    const std::size_t payloadBytes = length - 2u;
    const bool mpf = code == 0xE2 && s_.images == 0 && s_.scans == 0;
    const bool needed = isFrameMarker(code) || code == 0xC4 || code == 0xDA || code == 0xDD || mpf;
    bool ok = true;
    if (needed) {
        payload_.resize(payloadBytes);
        const std::size_t got = copy(payloadAt, payload_.data(), payloadBytes);
        if (got < payloadBytes) {
            // The file goes as far as the bytes could be read.
            s_.pos = payloadAt + got;
            return dataEnded();
        }
        const std::span<const std::uint8_t> p(payload_);
        if (isFrameMarker(code))
            ok = readFrame(s_, code, p);
        else if (code == 0xC4)
            ok = readTables(s_, p);
        else if (code == 0xDD)
            ok = p.size() == 2 && (s_.restartInterval = be16(p.data()), true);
        else if (code == 0xDA) {
            ok = startScan(s_, p);
            if (ok && !s_.decoding)
                decodedAll_ = false; // walked for its markers only
        } else if (p.size() >= 8 && std::memcmp(p.data(), "MPF", 4) == 0)
            readMpf(s_, p.subspan(4), payloadAt + 4);
    }
    if (!ok)
        return fail(BreakCause::BadSegment, at);
    if (passesTooManyStarts(payloadAt, payloadAt + payloadBytes))
        return fail(BreakCause::NextStart, at);
    ++s_.segments;
    s_.pos = payloadAt + payloadBytes;
    if (code == 0xDA) {
        s_.phase = WalkState::Phase::Entropy;
        if (every_)
            nextPoint_ = (s_.pos / every_ + 1) * every_;
    }
}

void Walker::imageEnded()
{
    ++s_.images;
    // The next image an MPF index declares after this one, if it is there. It begins where
    // the index says this one ends, give or take some padding: an offset much further on
    // would take in whatever lies between, other photos included.
    std::uint64_t next = std::numeric_limits<std::uint64_t>::max();
    std::uint32_t nextBytes = 0;
    for (std::uint8_t i = 0; i < s_.mpfImages; ++i)
        if (s_.mpfStart[i] >= s_.pos && s_.mpfStart[i] < next) {
            next = s_.mpfStart[i];
            nextBytes = s_.mpfBytes[i];
        }
    const std::uint64_t declaredEnd = std::max(s_.pos, s_.mpfEnd);
    std::uint8_t b[3];
    if (next < limit_ && next <= declaredEnd + kMpfSlackBytes &&
        !passesTooManyStarts(s_.pos, next) && copy(next, b, 3) == 3 && beginsJpeg(b)) {
        s_.pos = next;
        s_.mpfEnd = next + nextBytes;
        s_.phase = WalkState::Phase::Soi;
        s_.frame = false;
        s_.tables.reset();
        s_.restartInterval = 0;
        s_.scans = 0;
        return;
    }
    s_.phase = WalkState::Phase::Done;
}

// Counts the sectors that begin FF D8 FF from logical offset `from` up to `to` (their
// first bytes), other than the file's own first sector; true once the walk has passed
// more than kStartsPassedMost of them.
bool Walker::passesTooManyStarts(std::uint64_t from, std::uint64_t to)
{
    if (!countStarts_)
        return false;
    const std::uint64_t sectorBytes = card_.sectorBytes();
    to = std::min(to, limit_);
    for (std::uint64_t at = from; at < to;) {
        // The bytes from `at` lie together on the card up to the end of their piece.
        const std::uint64_t runEnd = std::min(to, layout_.pieceEnd(at));
        const std::uint64_t cardFrom = layout_.cardOffset(at);
        const std::uint64_t cardTo = cardFrom + (runEnd - at);
        for (std::uint64_t sector = (cardFrom + sectorBytes - 1) / sectorBytes;
             sector * sectorBytes < cardTo; ++sector) {
            ++steps_;
            if (sector * sectorBytes == layout_.start() || !card_.startsJpeg(sector))
                continue;
            if (++s_.startsPassed > kStartsPassedMost)
                return true;
        }
        at = runEnd;
    }
    return false;
}

// --- entropy-coded data -----------------------------------------------------------------

// At a restart or at the end of a scan: the data must end within the last byte read
// before the marker.
bool Walker::endOfScanData(bool restart)
{
    refill();
    if (outcome_ != Outcome::Running)
        return false;
    if (s_.marker == 0) {
        if (noMoreData_)
            dataEnded();
        else
            fail(restart ? BreakCause::RestartOrder : BreakCause::ScanEnd, s_.pos);
        return false;
    }
    if (s_.bitCount >= 8) {
        fail(restart ? BreakCause::RestartOrder : BreakCause::ScanEnd, s_.markerAt);
        return false;
    }
    if (restart) {
        if (s_.marker != 0xD0 + s_.nextRestart) {
            fail(s_.marker == 0xD8 ? BreakCause::NextStart : BreakCause::RestartOrder, s_.markerAt);
            return false;
        }
        s_.nextRestart = (s_.nextRestart + 1) & 7;
        s_.sinceRestart = 0;
        s_.dcPred.fill(0);
    } else {
        s_.phase = WalkState::Phase::Marker;
        s_.pos = s_.markerAt;
        cur_ = end_ = nullptr;
    }
    s_.bits = 0;
    s_.bitCount = 0;
    s_.marker = 0;
    return true;
}

// The entropy-coded data of a scan. Before each code, the bits at hand are refilled when
// fewer than 32 are left: eight bytes at once inside a block's AC codes when none of them
// is FF, byte by byte otherwise. Where a walk breaks, and the states kept for the gap
// search, follow from exactly when that happens, so a look-up that takes several codes at
// once is used only where no refill would come between them, and only where every code
// of it stays in the block; elsewhere the codes are taken one at a time.
void Walker::decodeScan()
{
    const Tables& tables = *s_.tables;
    const int maxDcBits = s_.precision + 3; // 11 for 8-bit samples
    const int maxAcBits = s_.precision + 2; // 10
    const std::int32_t maxDc = (1 << maxDcBits) - 1;
    const std::uint64_t mcuTotal = s_.mcuTotal;
    const int mcuBlocks = s_.mcuBlocks;
    const std::uint32_t interval = s_.restartInterval;
    // What each block of an MCU is decoded with.
    struct BlockCoding {
        const HuffmanTable* dc = nullptr;
        const HuffmanTable* ac = nullptr;
        const std::int16_t* dcLookup = nullptr;
        const std::uint32_t* acLookup = nullptr;
        const std::uint16_t* acFirst = nullptr;
        std::int32_t* pred = nullptr;
    };
    std::array<BlockCoding, 10> coding;
    for (int b = 0; b < mcuBlocks; ++b) {
        const std::uint8_t comp = s_.blockComp[std::size_t(b)];
        const HuffmanTable& dc = tables.dc[s_.scanDc[comp]];
        const HuffmanTable& ac = tables.ac[s_.scanAc[comp]];
        const bool own = oneCodeAtATime_;
        coding[std::size_t(b)] = {&dc,
                                  &ac,
                                  own ? kNoDcLookup.data() : dc.dcLookup(),
                                  own ? kNoAcLookup.data() : ac.acLookup(),
                                  own ? kNoFirstLookup.data() : ac.acFirstLookup(),
                                  &s_.dcPred[comp]};
    }
    // The hot state lives in locals while decoding and goes back into s_ before anything
    // that reads it there (refill, resume points, the end of a scan) and on every return.
    std::uint64_t bits = s_.bits;
    int bitCount = s_.bitCount;
    int k = s_.k;
    int block = s_.blockInMcu;
    std::uint64_t mcuDone = s_.mcuDone;
    std::uint64_t pos = s_.pos;
    const std::uint8_t* cur = cur_;
    const std::uint8_t* end = end_;
    auto save = [&] {
        s_.bits = bits;
        s_.bitCount = bitCount;
        s_.k = std::uint8_t(k);
        s_.blockInMcu = std::uint8_t(block);
        s_.mcuDone = mcuDone;
        s_.pos = pos;
        cur_ = cur;
    };
    auto load = [&] {
        bits = s_.bits;
        bitCount = s_.bitCount;
        pos = s_.pos;
        cur = cur_;
        end = end_;
    };
    // Byte by byte, up to a marker or the end of the data; false when the walk stopped.
    auto refillCarefully = [&] {
        save();
        refill();
        if (outcome_ != Outcome::Running)
            return false;
        load();
        return true;
    };
    // Whether the next eight bytes are there and none of them is FF.
    auto eightPlainBytes = [&](std::uint64_t& v) {
        if (end - cur < 8 || s_.marker || s_.afterFF)
            return false;
        std::memcpy(&v, cur, 8);
        // Some byte is FF exactly when some byte of ~v is zero.
        if ((~v - 0x0101010101010101ull) & v & 0x8080808080808080ull)
            return false;
        v = __builtin_bswap64(v);
        return true;
    };
    // Takes `n` of the eight bytes in v; bitCount + 8 * n must be 64 at most.
    auto take = [&](std::uint64_t v, int n) {
        bits |= (v >> bitCount) & ~((~0ull >> 1) >> (bitCount + 8 * n - 1));
        bitCount += 8 * n;
        cur += n;
        pos += std::uint64_t(n);
    };
    // Before a block's DC code and its first AC code: as refill() does, to more than 56
    // bits, with eight bytes read at once where they allow it.
    auto refillAtBlock = [&] {
        std::uint64_t v;
        if (!eightPlainBytes(v))
            return refillCarefully();
        take(v, ((56 - bitCount) >> 3) + 1);
        return true;
    };
    auto outOfData = [&] {
        save();
        if (s_.marker)
            fail(s_.marker == 0xD8 ? BreakCause::NextStart : BreakCause::MarkerInData, s_.markerAt);
        else if (outcome_ == Outcome::Running)
            dataEnded();
    };
    auto broken = [&](BreakCause cause) {
        save();
        fail(cause, pos);
    };
    for (;;) {
        if (block == 0 && k == 0) {
            if (pos >= pauseAt_)
                return save();
            if (mcuDone == mcuTotal) {
                save();
                endOfScanData(false);
                return;
            }
            if (interval && s_.sinceRestart == interval) {
                save();
                if (!endOfScanData(true))
                    return;
                load();
            }
        }
        if (bitCount < 32 && !refillAtBlock())
            return;
        const BlockCoding& c = coding[std::size_t(block)];
        if (k == 0) {
            // The DC code and its extra bits, in one look-up when they fit.
            const std::int16_t e = c.dcLookup[bits >> (64 - HuffmanTable::kDcBits)];
            std::int32_t diff = 0;
            int need = 0;
            if (bitCount >= 32 && e != 0) {
                diff = HuffmanTable::dcDifference(e);
                need = HuffmanTable::dcBits(e);
            } else {
                std::uint8_t symbol = 0;
                const int len = c.dc->decode(std::uint32_t(bits >> 48), symbol);
                if (len == 0 || len > bitCount)
                    return len == 0 && bitCount >= 16 ? broken(BreakCause::BadCode) : outOfData();
                if (symbol > maxDcBits)
                    return broken(BreakCause::BadValue);
                need = len + symbol;
                if (need > bitCount)
                    return outOfData();
                if (symbol) {
                    const std::int32_t raw = std::int32_t((bits << len) >> (64 - symbol));
                    diff = raw < (1 << (symbol - 1)) ? raw - (1 << symbol) + 1 : raw;
                }
            }
            const std::int32_t pred = *c.pred + diff;
            if (pred > maxDc || pred < -maxDc)
                return broken(BreakCause::BadValue);
            *c.pred = pred;
            if (trace_ && block == 0) [[unlikely]]
                trace_->record(mcuDone, pos, pred);
            bits <<= need;
            bitCount -= need;
            k = 1;
            if (bitCount < 32 && !refillAtBlock())
                return;
        }
        const std::uint32_t* runs = c.acLookup;
        while (k < 64) {
            // Whole coefficients, up to three at once.
            const std::uint32_t e = runs[bits >> (64 - HuffmanTable::kRunBits)];
            const int taken = HuffmanTable::runBits(e);
            const bool inBlock = k <= HuffmanTable::runHighest(e);
            if (bitCount - taken >= 32 && inBlock) [[likely]] {
                bits <<= taken;
                bitCount -= taken;
                k += HuffmanTable::runAdvance(e);
                continue;
            }
            std::uint64_t v;
            if (inBlock && bitCount >= 32) {
                // The bits drop below 32 between two of the coefficients, or after the
                // last: the bytes come in there, as if the coefficients came one by one.
                int at = bitCount - taken;
                if (bitCount - HuffmanTable::runFirstBits(e) < 32)
                    at = bitCount - HuffmanTable::runFirstBits(e);
                else if (bitCount - HuffmanTable::runAllButLastBits(e) < 32)
                    at = bitCount - HuffmanTable::runAllButLastBits(e);
                const bool blockEnds = k + HuffmanTable::runAdvance(e) >= 64;
                if (at == bitCount - taken && blockEnds) {
                    // The refill belongs to the next block's DC code.
                    bits <<= taken;
                    bitCount -= taken;
                    k += HuffmanTable::runAdvance(e);
                    continue;
                }
                if (eightPlainBytes(v)) {
                    bits <<= taken;
                    bitCount -= taken;
                    k += HuffmanTable::runAdvance(e);
                    take(v, (63 - at) >> 3);
                    continue;
                }
            } else if (bitCount < 32) {
                // Eight bytes at once when none of them is FF, to 56 bits or more.
                if (eightPlainBytes(v)) {
                    take(v, (63 - bitCount) >> 3);
                    continue;
                }
                if (!refillCarefully())
                    return;
                if (bitCount >= 32)
                    continue;
            }
            // One code: where a refill comes before the run's last code, where a block
            // ends, for what the look-up leaves out, and near a marker or the end of the
            // data.
            const std::uint16_t f = c.acFirst[bits >> (64 - HuffmanTable::kFirstBits)];
            if (f != 0 && HuffmanTable::firstBits(f) <= bitCount) {
                k += HuffmanTable::firstAdvance(f);
                // Past the block is wrong unless it is the end of the block.
                if (k > 64 && !(f & HuffmanTable::kFirstEndOfBlock))
                    return broken(BreakCause::BadValue);
                bits <<= HuffmanTable::firstBits(f);
                bitCount -= HuffmanTable::firstBits(f);
            } else {
                std::uint8_t symbol = 0;
                const int len = c.ac->decode(std::uint32_t(bits >> 48), symbol);
                if (len == 0 || len > bitCount)
                    return len == 0 && bitCount >= 16 ? broken(BreakCause::BadCode) : outOfData();
                const int run = symbol >> 4, size = symbol & 15;
                if (size == 0) {
                    if (run == 15) {
                        if (k + 16 > 63)
                            return broken(BreakCause::BadValue);
                        k += 16;
                    } else if (run == 0) {
                        k = 64;
                    } else {
                        return broken(BreakCause::BadValue);
                    }
                    bits <<= len;
                    bitCount -= len;
                } else {
                    k += run;
                    if (size > maxAcBits || k > 63)
                        return broken(BreakCause::BadValue);
                    if (len + size > bitCount)
                        return outOfData();
                    bits <<= len + size;
                    bitCount -= len + size;
                    ++k;
                }
            }
        }
        k = 0;
        if (++block == mcuBlocks) {
            block = 0;
            ++mcuDone;
            ++s_.sinceRestart;
        }
    }
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
        if (!s_.afterFF) {
            const auto* ff =
                static_cast<const std::uint8_t*>(std::memchr(cur_, 0xFF, std::size_t(end_ - cur_)));
            if (!ff) {
                s_.pos += std::uint64_t(end_ - cur_);
                cur_ = end_;
                continue;
            }
            s_.pos += std::uint64_t(ff - cur_) + 1;
            cur_ = ff + 1;
            s_.afterFF = true;
            continue;
        }
        const std::uint8_t b = *cur_++;
        ++s_.pos;
        if (b == 0xFF)
            continue;
        s_.afterFF = false;
        if (b == 0x00)
            continue;
        if (b >= 0xD0 && b <= 0xD7) {
            if (s_.restartInterval && b != 0xD0 + s_.nextRestart)
                return fail(BreakCause::RestartOrder, s_.pos - 2);
            s_.nextRestart = (b - 0xD0 + 1) & 7;
            continue;
        }
        if (b == 0xD8)
            return fail(BreakCause::NextStart, s_.pos - 2);
        s_.pos -= 2;
        s_.phase = WalkState::Phase::Marker;
        cur_ = end_ = nullptr;
        return;
    }
}

} // namespace velo::jpeg
