#pragma once

#include "scan/jpeg/bitreader.h"
#include "scan/jpeg/dctrace.h"
#include "scan/jpeg/walkstate.h"

#include <array>
#include <cstdint>

namespace velo::jpeg
{

// How decoding ended.
enum class BlockEnd {
    Decoded,   // as far as asked: to an MCU's end; within a block, the code was taken
    BadCode,   // a Huffman code the scan's tables do not have
    BadValue,  // a coefficient past the block, or a value too large for the samples
    OutOfBits, // a code or its extra bits go past a marker or the end of the data
    Stopped,   // the source broke the walk off while bytes were read
};

// Decodes the Huffman codes of a sequential scan's MCUs with the scan's tables: the DC
// difference and the AC coefficients of every block, checked for what a block can hold
// (no dequantising, no IDCT). The place in the MCU lives in ScanState (blockInMcu, k), so
// that decoding can be left at any code and taken up again from a copy of the state.
//
// Before each code the bits in hand are refilled when fewer than 32 are left: eight bytes
// at once inside a block's AC codes when none of them is FF, byte by byte otherwise.
// Where a walk breaks, and the resume points the source keeps on the way, follow from
// exactly when that happens, so a look-up that takes several codes at once is used only
// where no refill would come between them, and only where every code of it stays in the
// block; elsewhere codes are taken one at a time. Decoding with no look-ups at all (one
// code at a time) therefore gives the same results, bit for bit.
class BlockDecoder
{
public:
    // Set up for the scan `scan` describes; without the look-ups that take a code with its
    // extra bits or several codes at once when `oneCodeAtATime`.
    BlockDecoder(const FrameState& frame, ScanState& scan, bool oneCodeAtATime);

    // Decodes MCUs from block scan.blockInMcu, coefficient scan.k of the one in hand on,
    // counting them in scan.mcuDone and scan.sinceRestart, until the scan's last MCU, a
    // restart marker due, or the position reaching `pauseAt` at an MCU's start: then
    // Decoded, with scan.blockInMcu and scan.k at 0. Any other end leaves them where
    // decoding stopped. Either way `reader` is past the bits taken.
    BlockEnd decodeMcus(BitReader& reader, BitReader::Source& source, std::uint64_t pauseAt);

    // Record the DC value of each MCU's first block into `trace` (null: none), with the
    // position once the block was decoded, until the trace is full.
    void traceDc(DcTrace* trace) { trace_ = trace; }

private:
    // What each block of an MCU is decoded with.
    struct Coding {
        const HuffmanTable* dc = nullptr;
        const HuffmanTable* ac = nullptr;
        const std::int16_t* dcLookup = nullptr;
        const std::uint32_t* acLookup = nullptr;
        const std::uint16_t* acFirst = nullptr;
        std::int32_t* pred = nullptr;
    };
    // Where decoding is in the MCU in hand: the block, and the coefficient next in it (0:
    // its DC).
    struct Place {
        int block;
        int k;
    };
    // What to do after the bits ran short of a run of AC coefficients.
    enum class AfterRun { Again, OneCode, Stop };

    // All of these are inlined into decodeMcus, so that its copy of the reader is never in
    // memory; BitReader::fill is the only call decoding makes.
    [[gnu::always_inline]] inline BlockEnd decodeBlock(BitReader& r, Place& at, const Coding& c,
                                                       BitReader::Source& source);
    [[gnu::always_inline]] inline BlockEnd dcCode(BitReader& r, const Coding& c);
    [[gnu::always_inline]] inline BlockEnd acCodes(BitReader& r, Place& at, const Coding& c,
                                                   BitReader::Source& source);
    [[gnu::always_inline]] inline AfterRun shortOfRun(BitReader& r, Place& at, std::uint32_t run,
                                                      BitReader::Source& source);
    [[gnu::always_inline]] inline BlockEnd oneAcCode(BitReader& r, int& k, const Coding& c);
    [[gnu::always_inline]] inline bool refillAtBlock(BitReader& r, const Place& at,
                                                     BitReader::Source& source);
    [[gnu::always_inline]] inline bool refillByteByByte(BitReader& r, const Place& at,
                                                        BitReader::Source& source);

    ScanState& scan_;
    std::uint32_t restartInterval_; // in MCUs; 0: none
    std::array<Coding, 10> coding_;
    int maxDcBits_;      // the most extra bits of a DC difference: 11 for 8-bit samples
    int maxAcBits_;      // of an AC coefficient: 10 for 8-bit samples
    std::int32_t maxDc_; // the largest DC value, either sign
    DcTrace* trace_ = nullptr;
};

} // namespace velo::jpeg
