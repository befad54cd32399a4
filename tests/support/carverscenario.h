#pragma once

// Turns an arbitrary byte string into a carving scenario (a sector size, a volume with
// start and end markers planted where they are most likely to be mishandled, reads that
// fail or come back short) and checks the real carver against the byte-at-a-time model
// on it. The fuzz targets and the regression tests that replay what they found share
// this file, so a saved input means the same scenario in both.

#include "scan/carver.h"
#include "tests/support/carverecorder.h"
#include "tests/support/naivecarver.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace velo::fuzzing
{

using Bytes = std::vector<std::uint8_t>;

// Reads the input front to back; once it runs dry every value is zero, so any input,
// the empty one included, decodes to some scenario.
class InputReader
{
public:
    InputReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return at_ >= size_; }
    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::uint32_t word() { return std::uint32_t(byte()) << 8 | byte(); }
    std::size_t left() const { return at_ < size_ ? size_ - at_ : 0; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// Enough to reach every code path of the carver while keeping one run fast.
inline constexpr std::size_t kLargestSector = 4096;
inline constexpr std::size_t kLargestVolume = 64 * 1024;
inline constexpr std::size_t kMostOperations = 96;

struct SectorRead {
    bool failed = false;
    std::size_t bytes = 0; // what the read transferred; below the sector size when short
};

struct Scenario {
    std::size_t sectorBytes = 0;
    Bytes volume;                  // sectorCount × sectorBytes
    std::vector<SectorRead> reads; // one per sector, in order

    std::size_t sectorCount() const { return reads.size(); }

    // What the carver is given for sector i, or nothing when its read failed.
    std::optional<std::span<const std::uint8_t>> sector(std::size_t i) const
    {
        if (reads[i].failed)
            return std::nullopt;
        return std::span<const std::uint8_t>(volume).subspan(i * sectorBytes, reads[i].bytes);
    }
};

inline std::size_t decodeSectorSize(InputReader& in)
{
    static constexpr std::size_t kUsual[] = {16,  32,  100, 128,  255,  256,  511,
                                             512, 513, 520, 1000, 1024, 2048, 4096};
    const std::uint8_t kind = in.byte();
    switch (kind % 4) {
    case 0:
        return in.byte() % 20; // 0, 1, 2 can never open a file; 3.. just can
    case 1:
        return kUsual[in.byte() % std::size(kUsual)];
    case 2:
        return 17 + in.byte() % 111; // small and mostly not a multiple of 16
    default:
        return in.word() % (kLargestSector + 1);
    }
}

// Writes bytes into the volume from `at` on, as far as the volume goes: a marker placed
// near a sector's end spills into the next sector, which is the point.
inline void plant(Bytes& volume, std::size_t at, std::initializer_list<std::uint8_t> bytes)
{
    for (std::uint8_t b : bytes) {
        if (at >= volume.size())
            return;
        volume[at++] = b;
    }
}

inline void plantEnd(Bytes& volume, std::size_t at, std::size_t zeros, std::uint8_t breaker)
{
    plant(volume, at, {0xFF, 0xD9});
    for (std::size_t k = 0; k < zeros; ++k)
        plant(volume, at + 2 + k, {0x00});
    // A near miss: a non-zero byte right after the zeros, inside or just past the window.
    if (breaker)
        plant(volume, at + 2 + zeros, {breaker});
}

inline Scenario decodeScenario(const std::uint8_t* data, std::size_t size)
{
    InputReader in(data, size);
    Scenario sc;
    sc.sectorBytes = decodeSectorSize(in);
    const std::size_t fitting = sc.sectorBytes ? kLargestVolume / sc.sectorBytes : 64;
    const std::size_t count =
        std::min<std::size_t>(1 + in.byte() % 64, std::max<std::size_t>(1, fitting));
    sc.volume.assign(count * sc.sectorBytes, 0);
    sc.reads.assign(count, SectorRead{false, sc.sectorBytes});

    // Background: zeros, raw input, or the input's bits choosing among the four bytes the
    // rule cares about (00 FF D8 D9), which makes accidental markers common.
    const std::uint8_t fill = in.byte();
    const std::size_t rawBytes = std::min<std::size_t>(in.byte() * 8u, in.left());
    Bytes raw(rawBytes);
    for (auto& b : raw)
        b = in.byte();
    if (!raw.empty()) {
        static constexpr std::uint8_t kAlphabet[] = {0x00, 0xFF, 0xD8, 0xD9};
        for (std::size_t i = 0; i < sc.volume.size(); ++i) {
            const std::uint8_t r = raw[i % raw.size()];
            switch (fill % 3) {
            case 0:
                sc.volume[i] = i < raw.size() ? r : 0;
                break;
            case 1:
                sc.volume[i] = r;
                break;
            default:
                sc.volume[i] = kAlphabet[(r >> (2 * (i % 4))) & 3];
                break;
            }
        }
    }

    // Operations until the input runs out.
    for (std::size_t op = 0; op < kMostOperations && !in.empty(); ++op) {
        const std::uint8_t code = in.byte();
        const std::size_t s = in.byte() % count; // the sector it is about
        const std::size_t sectorStart = s * sc.sectorBytes;
        switch (code % 6) {
        case 0: // a start marker at a sector's first byte (cut short by tiny sectors)
            for (std::size_t k = 0; k < 3 && k < sc.sectorBytes; ++k)
                sc.volume[sectorStart + k] = k == 1 ? 0xD8 : 0xFF;
            break;
        case 1: { // an end marker anywhere in the sector, with 9..12 zeros after it
            const std::size_t at = sectorStart + (sc.sectorBytes ? in.word() % sc.sectorBytes : 0);
            plantEnd(sc.volume, at, 9 + in.byte() % 4, (code >> 3) & 1 ? 0x01 : 0x00);
            break;
        }
        case 2: { // an end marker across the boundary before this sector: FF D9 starts
                  // one to four bytes before it, or exactly at it
            const std::size_t back = (code >> 3) % 5;
            if (sectorStart >= back)
                plantEnd(sc.volume, sectorStart - back, 11, (code >> 6) & 1 ? 0x7F : 0x00);
            break;
        }
        case 3: // the read of this sector fails
            sc.reads[s].failed = true;
            break;
        case 4: { // the read reports success with fewer bytes, often only one or two,
                  // which moves the two-byte history by less than two
            const std::size_t cut[] = {0, 1, 2, 3, sc.sectorBytes - 1, sc.sectorBytes - 2};
            const std::size_t which = (code >> 3) % 8;
            const std::size_t bytes = which < std::size(cut) ? cut[which] : in.word();
            if (sc.sectorBytes)
                sc.reads[s].bytes = bytes % sc.sectorBytes;
            break;
        }
        default: { // a stray single marker byte, to build split and false markers, often
                   // at the sector's first bytes
            static constexpr std::uint8_t kStray[] = {0xFF, 0xD8, 0xD9, 0x00};
            const std::size_t at = (code >> 5) & 1 ? in.byte() % 4 : in.word();
            if (sc.sectorBytes)
                sc.volume[sectorStart + at % sc.sectorBytes] = kStray[(code >> 3) & 3];
            break;
        }
        }
    }
    return sc;
}

inline std::string describeReasons(const std::vector<CloseReason>& reasons)
{
    std::string text = "[";
    for (CloseReason r : reasons)
        text += std::string(text.size() > 1 ? " " : "") + closeReasonWord(r);
    return text + "]";
}

// Feeds the scenario to the real carver and the model; the first disagreement, or
// nothing when they agree on every file, the writing flag and the counter after every
// sector, on why each file was closed, and on what finishing the scan does.
inline std::optional<std::string> carveDifference(const Scenario& sc)
{
    testing::CarveRecorder events; // the real carver's output, its calls checked as they come
    Carver carver(events);
    testing::NaiveCarve model;
    std::ostringstream where;
    where << "sector size " << sc.sectorBytes << ", ";

    for (std::size_t i = 0; i < sc.sectorCount(); ++i) {
        const auto bytes = sc.sector(i);
        if (!bytes)
            continue;
        const bool wasWriting = model.writing;
        const bool starts =
            bytes->size() >= 3 && (*bytes)[0] == 0xFF && (*bytes)[1] == 0xD8 && (*bytes)[2] == 0xFF;
        // Each sector in an allocation of its own size, so that AddressSanitizer sees a
        // read past the sector's end rather than a read of the next sector.
        const Bytes own(bytes->begin(), bytes->end());
        carver.sector(own);
        model.sector(own);

        std::vector<CloseReason> expected;
        if (wasWriting && starts)
            expected.push_back(CloseReason::NextStart);
        if ((wasWriting || starts) && !model.writing)
            expected.push_back(CloseReason::EndMarker);
        const auto closes = events.take();

        std::ostringstream at;
        at << where.str() << "sector " << i << " (" << bytes->size() << " bytes read): ";
        if (!events.fault.empty())
            return at.str() + events.fault;
        if (carver.writing() != model.writing)
            return at.str() + "writing " + std::to_string(carver.writing()) + ", model " +
                   std::to_string(model.writing);
        if (carver.fileCounter() != model.counter)
            return at.str() + "counter " + std::to_string(carver.fileCounter()) + ", model " +
                   std::to_string(model.counter);
        if (closes != expected)
            return at.str() + "closed " + describeReasons(closes) + ", model " +
                   describeReasons(expected);
    }

    const bool open = carver.writing();
    const std::uint64_t counter = carver.fileCounter();
    carver.finish(CloseReason::EndOfScan);
    const auto closes = events.take();
    const std::vector<CloseReason> expected =
        open ? std::vector{CloseReason::EndOfScan} : std::vector<CloseReason>{};
    if (closes != expected || carver.writing() || carver.fileCounter() != counter + (open ? 1 : 0))
        return where.str() + "finish closed " + describeReasons(closes) + ", counter " +
               std::to_string(counter) + " -> " + std::to_string(carver.fileCounter());

    if (events.files != model.files) {
        for (const auto& [number, content] : model.files) {
            const auto it = events.files.find(number);
            if (it == events.files.end())
                return where.str() + "file " + std::to_string(number) + " missing";
            if (it->second != content) {
                const auto diff = std::mismatch(content.begin(), content.end(), it->second.begin(),
                                                it->second.end());
                return where.str() + "file " + std::to_string(number) + ": " +
                       std::to_string(it->second.size()) + " bytes, model " +
                       std::to_string(content.size()) + ", first difference at " +
                       std::to_string(diff.first - content.begin());
            }
        }
        return where.str() + std::to_string(events.files.size()) + " files, model " +
               std::to_string(model.files.size());
    }
    return std::nullopt;
}

} // namespace velo::fuzzing
