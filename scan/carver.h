#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace velo
{

// Why a carved file was closed.
enum class CloseReason {
    EndMarker,  // FF D9 followed by eleven zero bytes
    NextStart,  // a later sector began FF D8 FF
    EndOfScan,  // the last sector was read with the file still open
    Stopped,    // the user stopped the scan
    BadData,    // the bytes stopped being this photo's and no continuation was found
    Unreadable, // the photo runs on into a sector that could not be read
};

// What a rule that reads the JPEG structure found out about a file. The window's rule
// never gives one.
enum class Verdict {
    Complete,    // the structure runs whole from the start marker to the end of image
    Truncated,   // the data ends, or breaks off, before the end of image
    Reassembled, // whole, from pieces with other data between them, the picture seen to go
                 // on across every joint
    Uncertain,   // whole by its structure, from pieces whose joints could not all be seen to
                 // fit: perhaps another photo's data after a joint
    Damaged,     // runs to an end of image by its markers, but its data does not decode
    NotJpeg,     // the start is not followed by a JPEG structure; nothing is written
};

// A run of whole sectors that holds part of a file, both ends included.
struct SectorRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    bool operator==(const SectorRange&) const = default;
};

struct FileVerdict {
    Verdict verdict = Verdict::Complete;
    std::vector<SectorRange> pieces; // in file order; one sector for NotJpeg
};

// "end-marker", "next-start", "end-of-source", "stopped" (and, from the JPEG rule,
// "bad-data", "unreadable-sector"): the words reports use.
const char* closeReasonWord(CloseReason reason);

// Where the carver's decisions go: open file N, append bytes to it, close it.
class CarveEvents
{
public:
    virtual ~CarveEvents() = default;
    virtual void openFile(std::uint64_t fileNumber) = 0;
    virtual void append(std::span<const std::uint8_t> bytes) = 0;
    virtual void closeFile(CloseReason reason) = 0;
    // A rule that reads the JPEG structure calls this just before closeFile, and instead
    // of openFile ... closeFile for a start that is no JPEG (no number is used up then).
    virtual void verdict(const FileVerdict&) {}
};

// The carving rule, with no knowledge of windows, volumes or files.
//
// A sector whose first three bytes are FF D8 FF opens a file (closing one that is
// open). Every byte from there on is appended until a zero byte that follows FF D9 and
// is itself followed, within the same sector, by ten more zero bytes; the file ends
// with the FF D9 and the zero is not written. Bytes past the sector's end count as zero
// in that test. The two-byte history that finds FF D9 runs on across sectors and files.
// Files are numbered from 1, and the number goes up at every close.
class Carver
{
public:
    explicit Carver(CarveEvents& events) : events_(events) {}

    // One sector that was read. Its size is whatever the read gave: any size works,
    // including sizes below 3 (which can never open a file) and sizes that are not
    // multiples of 16.
    void sector(std::span<const std::uint8_t> sectorBytes);

    // Closes a file that is still open when no more sectors will come.
    void finish(CloseReason reason);

    bool writing() const { return writing_; }
    std::uint64_t fileCounter() const { return fileCounter_; }

private:
    void close(CloseReason reason);
    // Position of the first zero byte that completes an end marker, or the sector's
    // size when there is none.
    std::size_t findEnd(std::span<const std::uint8_t> sectorBytes) const;
    void keepHistory(std::span<const std::uint8_t> sectorBytes);

    CarveEvents& events_;
    bool writing_ = false;
    std::uint64_t fileCounter_ = 1;
    std::uint8_t previous_ = 0;       // the byte before the next one
    std::uint8_t secondPrevious_ = 0; // the byte before that
};

} // namespace velo
