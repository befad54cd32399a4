#include "scan/jpeg/blockdecoder.h"

#include <algorithm>

namespace velo::jpeg
{

namespace
{

// The bytes one code at a time would take in the middle of a run of coefficients, or
// right after it, given the `count` bits in hand before it (32 or more): it refills before
// a code when fewer than 32 bits are left. 0 when the refill after the run is the next
// block's (`blockEnds`), which refills its own way, and when there is none. Free of
// branches: where the bits run short is anyone's guess, and a mispredicted jump costs
// more than these few instructions.
int bytesInRun(int count, std::uint32_t run, bool blockEnds)
{
    // The bits left before the second code, before the third and after the run; the
    // first two are `count` for a single coefficient (both its fields are 0).
    const int second = count - HuffmanTable::runFirstBits(run);
    const int third = count - HuffmanTable::runAllButLastBits(run);
    const int after = count - HuffmanTable::runBits(run);
    // `left` when it is below 32, else 0.
    auto below32 = [](int left) { return left & -int(left < 32); };
    // The bits left only fall, so the refill comes at the highest of them below 32.
    const int at =
        std::max(std::max(below32(second), below32(third)), below32(after) & -int(!blockEnds));
    // To 56 bits or more, as BitReader::take; nothing when `at` is 0.
    return ((63 - at) >> 3) & -int(at != 0);
}

// Look-ups that hold nothing: every code is decoded on its own.
const std::array<std::int16_t, 1 << HuffmanTable::kDcBits> kNoDcLookup{};
const std::array<std::uint32_t, 1 << HuffmanTable::kRunBits> kNoAcLookup{};
const std::array<std::uint16_t, 1 << HuffmanTable::kFirstBits> kNoFirstLookup{};

} // namespace

BlockDecoder::BlockDecoder(const FrameState& frame, ScanState& scan, bool oneCodeAtATime)
    : scan_(scan), restartInterval_(frame.restartInterval), maxDcBits_(frame.precision + 3),
      maxAcBits_(frame.precision + 2), maxDc_((1 << maxDcBits_) - 1)
{
    const Tables& tables = *frame.tables;
    for (std::size_t b = 0; b < scan.mcuBlocks; ++b) {
        const std::uint8_t comp = scan.blockComp[b];
        const HuffmanTable& dc = tables.dc[scan.dcTable[comp]];
        const HuffmanTable& ac = tables.ac[scan.acTable[comp]];
        coding_[b] = {&dc,
                      &ac,
                      oneCodeAtATime ? kNoDcLookup.data() : dc.dcLookup(),
                      oneCodeAtATime ? kNoAcLookup.data() : ac.acLookup(),
                      oneCodeAtATime ? kNoFirstLookup.data() : ac.acFirstLookup(),
                      &scan.dcPred[comp]};
    }
}

BlockEnd BlockDecoder::decodeMcus(BitReader& reader, BitReader::Source& source,
                                  std::uint64_t pauseAt)
{
    // Decoding works on copies, which the compiler keeps in registers: the caller's reader
    // is in memory.
    BitReader r = reader;
    Place at{scan_.blockInMcu, scan_.k};
    BlockEnd end = BlockEnd::Decoded;
    for (;;) {
        end = decodeBlock(r, at, coding_[std::size_t(at.block)], source);
        if (end != BlockEnd::Decoded)
            break;
        if (trace_ && at.block == 0) [[unlikely]]
            trace_->record(scan_.mcuDone, r.pos(), *coding_[0].pred);
        at.k = 0;
        if (++at.block < scan_.mcuBlocks)
            continue;
        at.block = 0;
        ++scan_.mcuDone;
        ++scan_.sinceRestart;
        if (r.pos() >= pauseAt || scan_.mcuDone == scan_.mcuTotal ||
            (restartInterval_ && scan_.sinceRestart == restartInterval_))
            break;
    }
    reader = r;
    scan_.blockInMcu = std::uint8_t(at.block);
    scan_.k = std::uint8_t(at.k);
    return end;
}

inline BlockEnd BlockDecoder::decodeBlock(BitReader& r, Place& at, const Coding& c,
                                          BitReader::Source& source)
{
    if (r.count() < 32 && !refillAtBlock(r, at, source))
        return BlockEnd::Stopped;
    if (at.k == 0) {
        if (const BlockEnd end = dcCode(r, c); end != BlockEnd::Decoded)
            return end;
        at.k = 1;
        if (r.count() < 32 && !refillAtBlock(r, at, source))
            return BlockEnd::Stopped;
    }
    return acCodes(r, at, c, source);
}

// The DC code and its extra bits, in one look-up when they fit; the difference goes into
// the component's predictor. Decoded when it did; nothing is taken otherwise.
inline BlockEnd BlockDecoder::dcCode(BitReader& r, const Coding& c)
{
    const std::int16_t e = c.dcLookup[r.bits() >> (64 - HuffmanTable::kDcBits)];
    std::int32_t diff = 0;
    int need = 0;
    if (r.count() >= 32 && e != 0) {
        diff = HuffmanTable::dcDifference(e);
        need = HuffmanTable::dcBits(e);
    } else {
        std::uint8_t size = 0;
        const int len = c.dc->decode(std::uint32_t(r.bits() >> 48), size);
        if (len == 0 || len > r.count())
            return len == 0 && r.count() >= 16 ? BlockEnd::BadCode : BlockEnd::OutOfBits;
        if (size > maxDcBits_)
            return BlockEnd::BadValue;
        need = len + size;
        if (need > r.count())
            return BlockEnd::OutOfBits;
        if (size) {
            const std::int32_t raw = std::int32_t((r.bits() << len) >> (64 - size));
            diff = raw < (1 << (size - 1)) ? raw - (1 << size) + 1 : raw;
        }
    }
    const std::int32_t pred = *c.pred + diff;
    if (pred > maxDc_ || pred < -maxDc_)
        return BlockEnd::BadValue;
    *c.pred = pred;
    r.skip(need);
    return BlockEnd::Decoded;
}

// The AC coefficients from k on, to the block's end: whole runs of them at once from the
// look-up while at least 32 bits stay in hand, one at a time elsewhere.
inline BlockEnd BlockDecoder::acCodes(BitReader& r, Place& at, const Coding& c,
                                      BitReader::Source& source)
{
    int& k = at.k;
    const std::uint32_t* const runs = c.acLookup;
    while (k < 64) {
        const std::uint32_t run = runs[r.bits() >> (64 - HuffmanTable::kRunBits)];
        const int taken = HuffmanTable::runBits(run);
        if (r.count() - taken >= 32 && k <= HuffmanTable::runHighest(run)) [[likely]] {
            r.skip(taken);
            k += HuffmanTable::runAdvance(run);
            continue;
        }
        const AfterRun next = shortOfRun(r, at, run, source);
        if (next == AfterRun::Again)
            continue;
        if (next == AfterRun::Stop)
            return BlockEnd::Stopped;
        if (const BlockEnd end = oneAcCode(r, k, c); end != BlockEnd::Decoded)
            return end;
    }
    return BlockEnd::Decoded;
}

// The run the look-up found cannot be taken as it stands: the bits in hand drop below 32
// in it or before it, or it does not stay in the block. Takes it with the bytes coming in
// where one code at a time would have them come in, or refills; OneCode when the next code
// is to be taken alone.
inline BlockDecoder::AfterRun BlockDecoder::shortOfRun(BitReader& r, Place& at, std::uint32_t run,
                                                       BitReader::Source& source)
{
    int& k = at.k;
    std::uint64_t next8 = 0;
    if (k <= HuffmanTable::runHighest(run) && r.count() >= 32) {
        // The bits drop below 32 between two of the coefficients, or after the last: the
        // bytes come in there, as if the coefficients came one by one.
        const int advance = HuffmanTable::runAdvance(run);
        const int bytes = bytesInRun(r.count(), run, k + advance >= 64);
        if (bytes != 0 && !r.eightPlainBytes(next8))
            return AfterRun::OneCode;
        r.skip(HuffmanTable::runBits(run));
        r.take(next8, bytes); // nothing when bytes is 0
        k += advance;
        return AfterRun::Again;
    }
    if (r.count() < 32) {
        // Eight bytes at once when none of them is FF, to 56 bits or more.
        if (r.eightPlainBytes(next8)) {
            r.take(next8, (63 - r.count()) >> 3);
            return AfterRun::Again;
        }
        if (!refillByteByByte(r, at, source))
            return AfterRun::Stop;
        if (r.count() >= 32)
            return AfterRun::Again;
    }
    return AfterRun::OneCode;
}

// One code: a coefficient with its extra bits, a run of 16 zeros or the block's end.
// Decoded when it was taken. On BadValue and OutOfBits, k may have moved past the
// coefficient's zeros.
inline BlockEnd BlockDecoder::oneAcCode(BitReader& r, int& k, const Coding& c)
{
    const std::uint16_t f = c.acFirst[r.bits() >> (64 - HuffmanTable::kFirstBits)];
    if (f != 0 && HuffmanTable::firstBits(f) <= r.count()) {
        k += HuffmanTable::firstAdvance(f);
        // Past the block is wrong unless it is the end of the block.
        if (k > 64 && !(f & HuffmanTable::kFirstEndOfBlock))
            return BlockEnd::BadValue;
        r.skip(HuffmanTable::firstBits(f));
        return BlockEnd::Decoded;
    }
    std::uint8_t symbol = 0;
    const int len = c.ac->decode(std::uint32_t(r.bits() >> 48), symbol);
    if (len == 0 || len > r.count())
        return len == 0 && r.count() >= 16 ? BlockEnd::BadCode : BlockEnd::OutOfBits;
    const int zeros = symbol >> 4, size = symbol & 15;
    if (size == 0) {
        if (zeros == 15 && k + 16 <= 63)
            k += 16;
        else if (zeros == 0)
            k = 64; // the end of the block
        else
            return BlockEnd::BadValue;
        r.skip(len);
        return BlockEnd::Decoded;
    }
    k += zeros;
    if (size > maxAcBits_ || k > 63)
        return BlockEnd::BadValue;
    if (len + size > r.count())
        return BlockEnd::OutOfBits;
    r.skip(len + size);
    ++k;
    return BlockEnd::Decoded;
}

// Before a block's DC code and its first AC code: to more than 56 bits, as
// BitReader::fill does, with eight bytes at once where they allow it.
inline bool BlockDecoder::refillAtBlock(BitReader& r, const Place& at, BitReader::Source& source)
{
    std::uint64_t next8;
    if (!r.eightPlainBytes(next8))
        return refillByteByByte(r, at, source);
    r.take(next8, ((56 - r.count()) >> 3) + 1);
    return true;
}

// Byte by byte, up to a marker or the end of the data; false when the walk stopped there.
inline bool BlockDecoder::refillByteByByte(BitReader& r, const Place& at, BitReader::Source& source)
{
    // The source may keep the state as a resume point: it must say where decoding is.
    scan_.blockInMcu = std::uint8_t(at.block);
    scan_.k = std::uint8_t(at.k);
    // Through a copy, so that the address of decodeMcus' reader is never taken and it
    // stays in registers.
    BitReader slow = r;
    slow.fill(source);
    r = slow;
    return !source.stopped();
}

} // namespace velo::jpeg
