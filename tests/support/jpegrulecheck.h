#pragma once

// The check of the rule that reads the JPEG structure, on one input: a card of 512-byte
// sectors whose first byte picks a cluster size and a sector that cannot be read. The rule
// must not crash or read outside a buffer, must hand out only bytes of the card, in the
// order of the pieces it reports, and its walks and gap search must do work linear in the
// card's size. Walking the files ahead on another thread
// must change nothing it decides. Used by jpegrule_fuzzer and by the tests that
// replay the checked-in inputs.

#include "scan/jpeg/jpegcarver.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace velo::fuzzing
{

namespace jpegrule
{

constexpr std::size_t kSector = 512;

class FuzzCard : public velo::jpeg::SectorReader
{
public:
    FuzzCard(std::vector<std::uint8_t> bytes, std::uint64_t bad)
        : bytes_(std::move(bytes)), bad_(bad)
    {
    }
    std::uint32_t sectorBytes() const override { return kSector; }
    std::uint64_t sectorCount() const override { return bytes_.size() / kSector; }
    std::size_t read(std::uint64_t first, std::size_t count, std::uint8_t* into) override
    {
        std::size_t done = 0;
        for (; done < count && first + done < sectorCount() && first + done != bad_; ++done)
            std::memcpy(into + done * kSector, bytes_.data() + (first + done) * kSector, kSector);
        return done;
    }
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
    std::uint64_t bad_;
};

// Checks each file against the card as it is handed out; keeps the first fault.
struct Checker : velo::CarveEvents {
    const FuzzCard& card;
    std::vector<std::uint8_t> file;
    bool open = false;
    std::uint64_t expected = 1;
    std::optional<std::string> fault;
    std::vector<std::uint64_t> decisions; // numbers, verdicts, pieces, lengths, in order

    explicit Checker(const FuzzCard& c) : card(c) {}
    bool check(bool ok, const char* what)
    {
        if (!ok && !fault)
            fault = what;
        return ok;
    }
    void openFile(std::uint64_t n) override
    {
        check(!open && n == expected, "files opened out of turn");
        decisions.push_back(n);
        open = true;
        file.clear();
    }
    void append(std::span<const std::uint8_t> bytes) override
    {
        check(open, "bytes without a file");
        file.insert(file.end(), bytes.begin(), bytes.end());
    }
    void verdict(const velo::FileVerdict& v) override
    {
        decisions.push_back(std::uint64_t(v.verdict));
        for (const auto& r : v.pieces)
            decisions.insert(decisions.end(), {r.first, r.last});
        if (v.verdict == velo::Verdict::NotJpeg) {
            check(!open && v.pieces.size() == 1, "a refused start with a file");
            return;
        }
        if (!check(open && !v.pieces.empty() && v.pieces.size() <= 2, "pieces"))
            return;
        // The file is its pieces' bytes, in order; only the last piece may end early.
        std::size_t at = 0;
        for (std::size_t i = 0; i < v.pieces.size(); ++i) {
            const auto& r = v.pieces[i];
            if (!check(r.first <= r.last && (r.last + 1) * kSector <= card.bytes().size(),
                       "a piece outside the card"))
                return;
            const std::size_t bytes = (r.last - r.first + 1) * kSector;
            const std::size_t n = std::min(bytes, file.size() - at);
            check(i + 1 == v.pieces.size() || n == bytes, "a first piece cut short");
            check(std::memcmp(file.data() + at, card.bytes().data() + r.first * kSector, n) == 0,
                  "bytes that are not the card's");
            at += n;
        }
        check(at == file.size(), "bytes beyond the pieces");
    }
    void closeFile(velo::CloseReason reason) override
    {
        check(open, "close without a file");
        decisions.insert(decisions.end(), {file.size(), std::uint64_t(reason)});
        open = false;
        ++expected;
    }
};

} // namespace jpegrule

inline std::optional<std::string> jpegRuleFault(const std::uint8_t* data, std::size_t size)
{
    using namespace jpegrule;
    if (size < 1 || size > (1 << 20))
        return std::nullopt;
    const std::uint8_t knobs = data[0];
    std::vector<std::uint8_t> bytes(data + 1, data + size);
    bytes.resize((bytes.size() + kSector - 1) / kSector * kSector, 0);
    const std::uint64_t bad = (knobs & 0x80) ? (knobs & 0x0F) : ~0ull;
    FuzzCard card(std::move(bytes), bad);

    velo::jpeg::JpegRuleSettings settings;
    settings.clusterBytes = (knobs & 0x40) ? kSector << ((knobs >> 4) & 3) : 0;
    settings.gapWindowBytes = 256 * 1024;
    settings.maxFileBytes = 4 << 20;
    settings.searchAllowanceBytes = 64 << 10;
    settings.searchBytesPerCardByte = 2;
    settings.searchBytesPerSearch = 64 << 10;
    settings.cacheBytes = 1 << 20;
    Checker events(card);
    velo::jpeg::JpegCarver rule(card, events, settings);
    auto carve = [&](velo::jpeg::JpegCarver& r) {
        for (std::uint64_t s = 0; s < card.sectorCount(); ++s)
            if (s != bad)
                r.sector(s, {card.bytes().data() + s * kSector, kSector});
        r.finish();
    };
    carve(rule);
    events.check(!events.open, "a file left open");
    {
        Checker ahead(card);
        settings.lookAheadThreads = 1;
        velo::jpeg::JpegCarver walkingAhead(card, ahead, settings);
        carve(walkingAhead);
        events.check(ahead.decisions == events.decisions, "walking ahead changed a decision");
    }
    // Linear work: the gap search never spends more than the budget the card earned, plus
    // what its last walk took in past it; every walk together does work in proportion to
    // the card's size (a byte read by at most a few first walks, each segment and sector
    // test costing Walker::kStepWork).
    const std::uint64_t earned =
        settings.searchAllowanceBytes + settings.searchBytesPerCardByte * card.bytes().size();
    events.check(rule.searchBytesWalked() <= 5 * earned + (128 << 10),
                 "gap search over its budget");
    events.check(rule.workDone() <= 100 * card.bytes().size() + 6 * earned + (256 << 10),
                 "work beyond linear in the card's size");
    return events.fault;
}

} // namespace velo::fuzzing
