#include "scan/carver.h"

#include "scan/markers.h"

#include <algorithm>
#include <cstring>

namespace velo
{

namespace
{
constexpr std::size_t kEndWindowBytes = 11; // the zero after FF D9 and ten more

// Every byte of the end window is zero; positions from the sector's end on count as
// zero, so the window never reaches into the next sector.
bool windowIsZero(std::span<const std::uint8_t> s, std::size_t at)
{
    const std::size_t end = std::min(s.size(), at + kEndWindowBytes);
    return std::all_of(s.begin() + std::ptrdiff_t(at), s.begin() + std::ptrdiff_t(end),
                       [](std::uint8_t b) { return b == 0; });
}
} // namespace

const char* closeReasonWord(CloseReason reason)
{
    switch (reason) {
    case CloseReason::EndMarker:
        return "end-marker";
    case CloseReason::NextStart:
        return "next-start";
    case CloseReason::EndOfScan:
        return "end-of-source";
    case CloseReason::Stopped:
        return "stopped";
    case CloseReason::BadData:
        return "bad-data";
    case CloseReason::Unreadable:
        return "unreadable-sector";
    }
    return "unknown";
}

void Carver::sector(std::span<const std::uint8_t> bytes)
{
    if (beginsJpeg(bytes)) {
        if (writing_)
            close(CloseReason::NextStart);
        writing_ = true;
        events_.openFile(fileCounter_);
    }
    if (writing_) {
        // Find the end, if this sector holds it, and hand over everything before it in
        // one piece: the end test runs before the byte is written, so the zero that
        // completes the marker stays out of the file.
        const std::size_t end = findEnd(bytes);
        if (end > 0)
            events_.append(bytes.first(end));
        if (end < bytes.size())
            close(CloseReason::EndMarker);
    }
    keepHistory(bytes);
}

void Carver::finish(CloseReason reason)
{
    if (writing_)
        close(reason);
}

void Carver::close(CloseReason reason)
{
    writing_ = false;
    events_.closeFile(reason);
    ++fileCounter_;
}

std::size_t Carver::findEnd(std::span<const std::uint8_t> s) const
{
    // The marker may straddle the sector boundary: FF D9 at the end of the last sector,
    // or FF there and D9 at position 0.
    if (!s.empty() && s[0] == 0x00 && secondPrevious_ == 0xFF && previous_ == 0xD9 &&
        windowIsZero(s, 0))
        return 0;
    if (s.size() >= 2 && s[1] == 0x00 && s[0] == 0xD9 && previous_ == 0xFF && windowIsZero(s, 1))
        return 1;
    // Inside the sector: every D9 with FF before it and 00 after it is a candidate.
    // D9 is rare in photo data, so memchr skips most of a sector at memory speed.
    if (s.size() < 3)
        return s.size();
    const std::uint8_t* const base = s.data();
    const std::uint8_t* const last = base + s.size() - 1; // a D9 here has its zero beyond
    for (const std::uint8_t* at = base + 1; at < last;) {
        const auto* d9 =
            static_cast<const std::uint8_t*>(std::memchr(at, 0xD9, std::size_t(last - at)));
        if (!d9)
            break;
        const std::size_t zeroAt = std::size_t(d9 - base) + 1;
        if (d9[-1] == 0xFF && d9[1] == 0x00 && windowIsZero(s, zeroAt))
            return zeroAt;
        at = d9 + 1;
    }
    return s.size();
}

void Carver::keepHistory(std::span<const std::uint8_t> s)
{
    if (s.size() >= 2) {
        secondPrevious_ = s[s.size() - 2];
        previous_ = s[s.size() - 1];
    } else if (s.size() == 1) {
        secondPrevious_ = previous_;
        previous_ = s[0];
    }
}

} // namespace velo
