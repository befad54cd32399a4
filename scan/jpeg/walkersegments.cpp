// The walker's steps from marker to marker: a file's segments, by their lengths, and the
// images an MPF index declares after the first.

#include "scan/jpeg/segments.h"
#include "scan/jpeg/walker.h"
#include "scan/markers.h"

#include <algorithm>
#include <cstring>

namespace velo::jpeg
{

namespace
{

bool isFrameMarker(std::uint8_t m)
{
    return m >= 0xC0 && m <= 0xCF && m != marker::kDefineTables && m != 0xC8 && m != 0xCC;
}

// Markers that stand alone where a segment is due: TEM, the reserved ones, RSTn.
bool standsAlone(std::uint8_t code)
{
    return code < 0xC0 || (code >= marker::kRestart0 && code <= marker::kRestart0 + 7);
}

} // namespace

void Walker::stepSoi()
{
    std::uint8_t two[2];
    if (copy(s_.pos, two, 2) < 2)
        return dataEnded();
    if (two[0] != 0xFF || two[1] != marker::kStartOfImage)
        return fail(BreakCause::NotAMarker, s_.pos);
    s_.pos += 2;
    s_.phase = WalkState::Phase::Marker;
}

void Walker::stepMarker()
{
    ++steps_;
    pushResumePoint();
    const std::uint64_t at = s_.pos;
    std::uint64_t codeAt = 0;
    std::uint8_t code = 0;
    if (!readMarkerCode(at, codeAt, code))
        return;
    if (code == marker::kStartOfImage)
        return fail(BreakCause::NextStart, at);
    if (code == marker::kEndOfImage) {
        if (s_.frame.scans == 0)
            return fail(BreakCause::BadSegment, at);
        s_.pos = codeAt + 1;
        return imageEnded();
    }
    if (standsAlone(code))
        return fail(BreakCause::BadSegment, at);
    stepSegment(at, codeAt, code);
}

// The marker at `at`: its code, and where that lies after any fill bytes (FF) before it.
// False when there is none: the walk has ended.
bool Walker::readMarkerCode(std::uint64_t at, std::uint64_t& codeAt, std::uint8_t& code)
{
    std::uint8_t b[2];
    if (copy(at, b, 2) < 2) {
        dataEnded();
        return false;
    }
    if (b[0] != 0xFF) {
        fail(BreakCause::NotAMarker, at);
        return false;
    }
    codeAt = at + 1;
    code = b[1];
    while (code == 0xFF) {
        if (codeAt - at > 1024) {
            fail(BreakCause::NotAMarker, at);
            return false;
        }
        ++codeAt;
        if (copy(codeAt, &code, 1) < 1) {
            s_.pos = codeAt;
            dataEnded();
            return false;
        }
    }
    return true;
}

// The segment of the marker at `at`: skipped by its length, or read whole and taken into
// the state.
void Walker::stepSegment(std::uint64_t at, std::uint64_t codeAt, std::uint8_t code)
{
    std::uint8_t b[2];
    if (copy(codeAt + 1, b, 2) < 2) {
        s_.pos = codeAt + 1;
        return dataEnded();
    }
    const std::uint16_t length = be16(b); // of the length and the payload
    if (length < 2)
        return fail(BreakCause::BadSegment, at);
    const std::uint64_t payloadAt = codeAt + 3;
    const std::size_t payloadBytes = length - 2u;
    if (readsWhole(code)) {
        payload_.resize(payloadBytes);
        const std::size_t got = copy(payloadAt, payload_.data(), payloadBytes);
        if (got < payloadBytes) {
            // The file goes as far as the bytes could be read.
            s_.pos = payloadAt + got;
            return dataEnded();
        }
        if (!takeSegment(code, payload_, payloadAt))
            return fail(BreakCause::BadSegment, at);
    }
    if (passesTooManyStarts(payloadAt, payloadAt + payloadBytes))
        return fail(BreakCause::NextStart, at);
    ++s_.segments;
    s_.pos = payloadAt + payloadBytes;
    if (code == marker::kStartOfScan) {
        s_.phase = WalkState::Phase::Entropy;
        if (every_)
            nextPoint_ = (s_.pos / every_ + 1) * every_;
    }
}

// Whether the walk needs the segment's payload: the frame, tables, restart interval and
// scan header; and an MPF index, which only the first image's header holds.
bool Walker::readsWhole(std::uint8_t code) const
{
    const bool mpf = code == marker::kApp2 && s_.images == 0 && s_.frame.scans == 0;
    return isFrameMarker(code) || code == marker::kDefineTables || code == marker::kStartOfScan ||
           code == marker::kRestartInterval || mpf;
}

// False for a segment that cannot be.
bool Walker::takeSegment(std::uint8_t code, std::span<const std::uint8_t> payload,
                         std::uint64_t payloadAt)
{
    if (isFrameMarker(code))
        return readFrame(s_, code, payload);
    if (code == marker::kDefineTables)
        return readTables(s_, payload);
    if (code == marker::kRestartInterval) {
        if (payload.size() != 2)
            return false;
        s_.frame.restartInterval = be16(payload.data());
        return true;
    }
    if (code == marker::kStartOfScan) {
        if (!startScan(s_, payload))
            return false;
        if (!s_.scan.decoding)
            decodedAll_ = false; // walked for its markers only
        return true;
    }
    if (payload.size() >= 8 && std::memcmp(payload.data(), "MPF", 4) == 0)
        readMpf(s_, payload.subspan(4), payloadAt + 4);
    return true;
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
        s_.frame = {};
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
        // The bytes from `at` lie together on the card up to the split, if it comes first.
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

} // namespace velo::jpeg
