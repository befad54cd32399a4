#pragma once

#include "scan/jpeg/bitreader.h"
#include "scan/jpeg/huffman.h"

#include <array>
#include <cstdint>
#include <memory>

namespace velo::jpeg
{

// A Huffman table as a DHT segment defines it.
struct TableDefinition {
    std::array<std::uint8_t, 16> counts{};
    std::array<std::uint8_t, 256> symbols{};
};

// The Huffman tables in force. A table is built for decoding only once a scan uses it, so
// that segments defining tables no scan uses cost no more than their bytes to read.
struct Tables {
    std::array<HuffmanTable, 4> dc, ac;                        // built
    std::array<TableDefinition, 4> dcDefinition, acDefinition; // defined
    std::uint8_t dcDefined = 0, acDefined = 0;                 // bit i: table i is there
    std::uint8_t dcBuilt = 0, acBuilt = 0; // bit i: table i is built from its definition
};

// What the segments of the image in hand say before and between its scans: the frame
// (SOF: size, components, sampling), the Huffman tables (DHT), the restart interval (DRI)
// and how many scans were started. A new image of the file starts from none of it.
struct FrameState {
    bool present = false;       // an SOF was read
    bool decodable = false;     // sequential Huffman with a known height: scans are decoded
    std::uint8_t precision = 8; // bits per sample
    std::uint16_t width = 0, height = 0; // in samples
    std::uint8_t components = 0, maxH = 1, maxV = 1;
    std::array<std::uint8_t, 4> compId{}, compH{}, compV{};
    std::uint16_t restartInterval = 0; // in MCUs; 0: no restart markers
    std::uint32_t scans = 0;
    std::shared_ptr<const Tables> tables;
};

// The scan being walked: which components it codes with which tables, how far its MCUs
// have come, the restart marker due next and the DC predictors.
struct ScanState {
    bool decoding = false; // false: walked for its markers only
    std::uint8_t mcuBlocks = 0;
    std::array<std::uint8_t, 10> blockComp{};         // scan component of each block of an MCU
    std::array<std::uint8_t, 4> dcTable{}, acTable{}; // per scan component
    std::uint64_t mcuTotal = 0, mcuDone = 0;
    std::uint32_t sinceRestart = 0;       // MCUs since the last restart marker
    std::uint8_t nextRestart = 0;         // n of the RSTn due next
    std::uint8_t blockInMcu = 0, k = 0;   // k: coefficient of the block next; 0 is its DC
    std::array<std::int32_t, 4> dcPred{}; // per scan component
};

// Everything the walk of one file knows at one point between two steps. Copies of it are
// the points from which the gap search resumes with other bytes.
struct WalkState {
    enum class Phase : std::uint8_t { Soi, Marker, Entropy, Done };
    Phase phase = Phase::Soi;
    std::uint64_t pos = 0; // logical offset of the next byte to read
    std::uint32_t segments = 0;
    std::uint32_t images = 0;
    // Later sectors that begin FF D8 FF which the walk passed over inside segments or MPF
    // jumps (an embedded thumbnail or preview). Few in any photo; many in a card made to
    // have every walk run over the same bytes again.
    std::uint32_t startsPassed = 0;

    // Further images an MPF index declares, as logical offsets of their starts, with the
    // sizes it declares for them; mpfEnd is where the image in hand should end by the same
    // index (0: it declares none).
    std::uint8_t mpfImages = 0;
    std::array<std::uint64_t, 8> mpfStart{};
    std::array<std::uint32_t, 8> mpfBytes{};
    std::uint64_t mpfEnd = 0;

    FrameState frame;
    ScanState scan;
    BitState bits; // of the scan's entropy-coded data, up to pos
};

} // namespace velo::jpeg
