#pragma once

#include <cstdint>
#include <span>

namespace velo
{

// Why a carved file was closed.
enum class CloseReason {
    EndMarker, // FF D9 followed by eleven zero bytes
    NextStart, // a later sector began FF D8 FF
    EndOfScan, // the last sector was read with the file still open
    Stopped,   // the user stopped the scan
};

// "end-marker", "next-start", "end-of-source", "stopped": the words reports use.
const char* closeReasonWord(CloseReason reason);

// Where the carver's decisions go: open file N, append bytes to it, close it.
class CarveEvents
{
public:
    virtual ~CarveEvents() = default;
    virtual void openFile(std::uint64_t fileNumber) = 0;
    virtual void append(std::span<const std::uint8_t> bytes) = 0;
    virtual void closeFile(CloseReason reason) = 0;
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
