#pragma once

#include "scan/jpeg/cardbytes.h"
#include "scan/jpeg/huffman.h"

#include <array>
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <vector>

namespace velo::jpeg
{

// Where a file's bytes lie on the card: logical offset x is card offset start + x, except
// that from `split` on the file goes on at card offset `resume`.
struct Layout {
    std::uint64_t start = 0;
    std::uint64_t split = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t resume = 0;
    std::uint64_t cardOffset(std::uint64_t logical) const
    {
        return logical < split ? start + logical : resume + (logical - split);
    }
};

enum class Outcome {
    Running,  // paused where asked, nothing wrong so far
    Complete, // the last image's end marker was reached; length() is the file's length
    Broken,   // the bytes stop making sense at breakAt()
    DataEnd,  // the card ends, or a sector cannot be read, before the file does
};

// Why the walk broke off.
enum class BreakCause {
    None,
    NotAMarker,   // a segment is not followed by a marker
    BadSegment,   // a segment that cannot be (bad length, unknown code, no frame...)
    NextStart,    // a start-of-image marker inside the file
    BadCode,      // a Huffman code the file's own tables do not have
    BadValue,     // a coefficient that cannot be: past the block, or too large
    MarkerInData, // a marker where the scan still needs data
    RestartOrder, // a restart marker missing or out of sequence
    ScanEnd,      // data left over, or no marker, where the scan ends
    PlainSector,  // a sector with no byte of 0x80 or more (text, zeros): never entropy data
    TooLong,      // longer than the largest file the rule takes
};

// A Huffman table as a DHT segment defines it.
struct TableSpec {
    std::array<std::uint8_t, 16> counts{};
    std::array<std::uint8_t, 256> symbols{};
};

// The Huffman tables in force. A table is built for decoding only once a scan uses it, so
// that segments defining tables no scan uses cost no more than their bytes to read.
struct Tables {
    std::array<HuffmanTable, 4> dc, ac;        // built
    std::array<TableSpec, 4> dcSpec, acSpec;   // defined
    std::uint8_t dcDefined = 0, acDefined = 0; // bit i: table i is there
    std::uint8_t dcBuilt = 0, acBuilt = 0;     // bit i: table i is built from its spec
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

    // The frame of the current image.
    bool frame = false;
    bool decodable = false; // sequential Huffman with a known height: scans are decoded
    std::uint8_t precision = 8;
    std::uint16_t width = 0, height = 0;
    std::uint8_t components = 0, maxH = 1, maxV = 1;
    std::array<std::uint8_t, 4> compId{}, compH{}, compV{};
    std::uint16_t restartInterval = 0;
    std::uint32_t scans = 0;
    std::shared_ptr<const Tables> tables;

    // Further images an MPF index declares, as logical offsets of their starts, with the
    // sizes it declares for them; mpfEnd is where the image in hand should end by the same
    // index (0: it declares none).
    std::uint8_t mpfImages = 0;
    std::array<std::uint64_t, 8> mpfStart{};
    std::array<std::uint32_t, 8> mpfBytes{};
    std::uint64_t mpfEnd = 0;

    // The scan being walked.
    bool decoding = false; // false: walked for its markers only
    std::uint8_t mcuBlocks = 0;
    std::array<std::uint8_t, 10> blockComp{}; // scan component of each block of an MCU
    std::array<std::uint8_t, 4> scanDc{}, scanAc{};
    std::uint64_t mcuTotal = 0, mcuDone = 0;
    std::uint32_t sinceRestart = 0;
    std::uint8_t nextRestart = 0;
    std::uint8_t blockInMcu = 0, k = 0; // k == 0: the block's DC code comes next
    std::array<std::int32_t, 4> dcPred{};
    std::uint64_t bits = 0; // unread bits, first one highest
    int bitCount = 0;
    bool afterFF = false;       // the last byte read was FF
    std::uint8_t marker = 0;    // a marker the data ran into, 0 while none
    std::uint64_t markerAt = 0; // where its FF is
};

// Follows one JPEG file through its structure: segments by their lengths, the entropy-
// coded data of each scan decoded with the file's own Huffman tables (no IDCT), images
// declared in an MPF index. Reads through `card` with the file's Layout.
class Walker
{
public:
    // Later starts a walk may pass over before it breaks (NextStart).
    static constexpr std::uint32_t kStartsPassedMost = 8;
    // How far past the end an MPF index declares for an image its next image may begin.
    static constexpr std::uint64_t kMpfSlackBytes = 4096;

    Walker(CardBytes& card, Layout layout, std::uint64_t maxFileBytes);

    // Keep copies of the state at every multiple of `every` bytes in the entropy-coded data
    // and at every segment start, the newest `count` of them.
    void keepResumePoints(std::uint64_t every, std::size_t count);
    const std::deque<WalkState>& resumePoints() const { return resumePoints_; }

    // Whether a sector without a byte of 0x80 or more ends the entropy-coded data (on by
    // default). Flat synthetic images can hold such sectors, so a walk broken there is
    // taken again without the test when no second piece is found.
    void testPlainSectors(bool on) { testPlain_ = on; }
    // Decode every Huffman code on its own, by its length, without the look-ups that take
    // a code with its extra bits or several codes at once. Every outcome is the same
    // either way; tests compare the two.
    void oneCodeAtATime(bool on) { oneCodeAtATime_ = on; }
    // Whether a walk breaks (NextStart) after passing more than kStartsPassedMost later
    // starts (on by default): every start is walked once, so a card with many must not let
    // each walk run over the same bytes. A search for a second piece, whose work its budget
    // bounds, turns it off.
    void countStartsPassed(bool on) { countStarts_ = on; }

    void restore(const WalkState& state);
    const WalkState& state() const { return s_; }

    // Walks on until the outcome is known, or pauses (Running) once the position reaches
    // pauseAt.
    Outcome run(std::uint64_t pauseAt = std::numeric_limits<std::uint64_t>::max());

    std::uint64_t length() const { return s_.pos; } // for Complete: the file's length
    std::uint64_t breakAt() const { return breakAt_; }
    BreakCause cause() const { return cause_; }
    bool unreadable() const { return unreadable_; } // for DataEnd: a sector failed
    // Whether every scan so far was decoded, not only walked for markers.
    bool decodedAll() const { return decodedAll_; }
    // Bytes read so far (segments skipped by their length cost nothing).
    std::uint64_t bytesWalked() const { return walked_; }
    // The work done so far, in bytes read: each segment looked at and each sector tested for
    // a start counts as kStepWork bytes more. Linear in the card's size over all the walks
    // of a carve, whatever the card holds; tests and the fuzzer check that it stays so.
    static constexpr std::uint64_t kStepWork = 16;
    std::uint64_t work() const { return walked_ + kStepWork * steps_; }

private:
    void stepSoi();
    void stepMarker();
    void decodeScan();
    void walkScan();
    bool startScan(std::span<const std::uint8_t> payload);
    bool readFrame(std::uint8_t marker, std::span<const std::uint8_t> payload);
    bool readTables(std::span<const std::uint8_t> payload);
    void buildScanTables(std::uint8_t components);
    void readMpf(std::span<const std::uint8_t> payload, std::uint64_t base);
    void imageEnded();
    bool passesTooManyStarts(std::uint64_t from, std::uint64_t to);
    bool endOfScanData(bool restart);

    bool fetch();
    void refill();
    std::size_t copy(std::uint64_t at, std::uint8_t* into, std::size_t count);
    void fail(BreakCause cause, std::uint64_t at);
    void dataEnded();
    void pushResumePoint();

    CardBytes& card_;
    Layout layout_;
    std::uint64_t limit_;
    WalkState s_;
    Outcome outcome_ = Outcome::Running;
    BreakCause cause_ = BreakCause::None;
    std::uint64_t breakAt_ = 0;
    bool unreadable_ = false;
    bool noMoreData_ = false;
    bool decodedAll_ = true;
    std::uint64_t walked_ = 0;
    std::uint64_t steps_ = 0; // segments looked at, sectors tested for a start
    std::uint64_t pauseAt_ = 0;
    bool testPlain_ = true;
    bool oneCodeAtATime_ = false;
    bool countStarts_ = true;

    std::span<const std::uint8_t> span_; // the card's bytes in hand, from card offset spanAt_
    std::uint64_t spanAt_ = 0;
    const std::uint8_t* cur_ = nullptr; // bytes of the card at s_.pos
    const std::uint8_t* end_ = nullptr;
    std::uint64_t every_ = 0;
    std::size_t keep_ = 0;
    std::uint64_t nextPoint_ = 0;
    std::uint64_t lastSectorChecked_ = std::numeric_limits<std::uint64_t>::max();
    std::deque<WalkState> resumePoints_;
    std::vector<std::uint8_t> payload_;
};

} // namespace velo::jpeg
