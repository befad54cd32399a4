#pragma once

#include "scan/jpeg/bitreader.h"
#include "scan/jpeg/blockdecoder.h"
#include "scan/jpeg/cardbytes.h"
#include "scan/jpeg/dctrace.h"
#include "scan/jpeg/layout.h"
#include "scan/jpeg/walkstate.h"

#include <array>
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <span>
#include <vector>

namespace velo::jpeg
{

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

// Follows one JPEG file through its structure: segments by their lengths, the entropy-
// coded data of each scan decoded with the file's own Huffman tables (no IDCT), images
// declared in an MPF index. Reads through `card` with the file's Layout.
//
// The walk's jobs lie in rooms of their own: segments are parsed in segments.h, bits read
// by BitReader, the blocks of each MCU decoded by BlockDecoder. The walker steps from
// marker to marker, sets each scan up, hands the decoder the bytes and keeps the resume
// points.
class Walker final : private BitReader::Source
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

    // Record each decoded MCU's first DC value into `trace` (null: none) until it is full.
    void traceDc(DcTrace* trace) { trace_ = trace; }

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
    // Segments (walkersegments.cpp).
    void stepSoi();
    void stepMarker();
    bool readMarkerCode(std::uint64_t at, std::uint64_t& codeAt, std::uint8_t& code);
    void stepSegment(std::uint64_t at, std::uint64_t codeAt, std::uint8_t code);
    bool readsWhole(std::uint8_t code) const;
    bool takeSegment(std::uint8_t code, std::span<const std::uint8_t> payload,
                     std::uint64_t payloadAt);
    void imageEnded();
    bool passesTooManyStarts(std::uint64_t from, std::uint64_t to);

    // Entropy-coded data.
    void decodeScan();
    void stopDecoding(BlockEnd end, const BitReader& reader);
    bool endOfScanData(BitReader& reader, bool restart);
    void walkScan();
    BitReader readerInHand() const;
    void keep(const BitReader& reader);
    std::span<const std::uint8_t> more(const BitReader& reader) override;
    bool stopped() const override { return outcome_ != Outcome::Running; }

    // Bytes, outcomes, resume points.
    bool fetch();
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
    DcTrace* trace_ = nullptr;

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
