#include "scan/jpeg/jpegcarver.h"
#include "tests/scan/jpeg/testphotos.h"
#include "tests/support/carverecorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <numeric>
#include <random>
#include <set>

namespace velo::jpeg
{
namespace
{

using testing::Bytes;
using testing::entropyStart;
using testing::Filler;
using testing::makePhoto;
using testing::MemoryCard;

constexpr std::size_t kSector = 512;
constexpr std::size_t kCluster = 4096;

struct Recorder : velo::testing::CarveRecorder {
    std::map<std::uint64_t, FileVerdict> verdicts;
    std::vector<FileVerdict> refused;
    void verdict(const FileVerdict& v) override
    {
        if (v.verdict == Verdict::NotJpeg)
            refused.push_back(v);
        else
            verdicts[current] = v;
    }
};

// A card made cluster by cluster.
struct CardBuilder {
    Bytes image;
    void add(const Bytes& bytes)
    {
        image.insert(image.end(), bytes.begin(), bytes.end());
        image.resize((image.size() + kCluster - 1) / kCluster * kCluster, 0);
    }
    std::uint64_t sector() const { return image.size() / kSector; }
};

void carveAll(MemoryCard& card, Recorder& events, JpegRuleSettings settings = {})
{
    JpegCarver rule(card, events, settings);
    for (std::uint64_t s = 0; s < card.sectorCount(); ++s)
        rule.sector(s, {card.image().data() + s * kSector, kSector});
}

TEST(JpegCarver, PhotosInTwoPiecesComeBackWhole)
{
    struct Split {
        const char* name;
        testing::PhotoRecipe recipe;
        std::size_t cutClusters; // the first piece
        Filler gap;
        std::size_t gapClusters;
        // A joint in the image's first rows has too little picture above it to be seen.
        Verdict verdict = Verdict::Reassembled;
    };
    const Split splits[] = {
        {"random gap", {.width = 320, .height = 240, .seed = 11}, 2, Filler::Random, 3},
        {"text gap", {.width = 320, .height = 240, .seed = 12}, 3, Filler::Text, 1},
        {"zero gap, restarts, a joint in the first rows",
         {.width = 320, .height = 240, .restartRows = 2, .seed = 13},
         1,
         Filler::Zeros,
         7,
         Verdict::Uncertain},
        {"another photo in the gap",
         {.width = 400, .height = 300, .seed = 14},
         4,
         Filler::Random,
         0},
    };
    CardBuilder b;
    struct Expected {
        Bytes photo;
        std::vector<SectorRange> pieces;
        Verdict verdict;
    };
    std::vector<Expected> expected;
    for (std::size_t i = 0; i < std::size(splits); ++i) {
        const Split& s = splits[i];
        const Bytes photo = makePhoto(s.recipe);
        const std::size_t cut = s.cutClusters * kCluster;
        ASSERT_LT(cut, photo.size()) << s.name;
        b.add(testing::filler(Filler::Random, kCluster, std::uint32_t(i)));
        const std::uint64_t first = b.sector();
        b.add(Bytes(photo.begin(), photo.begin() + std::ptrdiff_t(cut)));
        expected.push_back({photo, {{first, first + cut / kSector - 1}}, s.verdict});
        if (s.gapClusters)
            b.add(testing::filler(s.gap, s.gapClusters * kCluster, std::uint32_t(i + 100)));
        else {
            // A whole photo between the pieces: a file of its own.
            const Bytes other = makePhoto({.seed = 99});
            expected.push_back({other,
                                {{b.sector(), b.sector() + (other.size() - 1) / kSector}},
                                Verdict::Complete});
            b.add(other);
        }
        const std::uint64_t second = b.sector();
        b.add(Bytes(photo.begin() + std::ptrdiff_t(cut), photo.end()));
        expected[expected.size() - (s.gapClusters ? 1 : 2)].pieces.push_back(
            {second, second + (photo.size() - cut - 1) / kSector});
    }
    b.add(testing::filler(Filler::Random, kCluster, 7));

    MemoryCard card(b.image, kSector);
    Recorder events;
    carveAll(card, events, {.clusterBytes = kCluster});

    ASSERT_EQ(events.files.size(), expected.size());
    std::size_t n = 1;
    for (const auto& [photo, pieces, verdict] : expected) {
        SCOPED_TRACE("file " + std::to_string(n));
        EXPECT_TRUE(events.files[n] == photo);
        EXPECT_EQ(events.verdicts[n].verdict, verdict);
        EXPECT_EQ(events.verdicts[n].pieces, pieces);
        EXPECT_EQ(events.closeReasons[n], CloseReason::EndMarker);
        EXPECT_EQ(testing::decodePixels(events.files[n]), testing::decodePixels(photo));
        ++n;
    }
}

// Cards where a photo lies in pieces, as a file system that fills the holes deleted files
// left puts it: further on, or from the card's start once allocation wrapped, with another
// photo's data of the same size and tables (a lure that decodes as cleanly) in between.
TEST(JpegCarver, PhotosInSeveralPiecesComeBackOnlyWhereThePictureGoesOn)
{
    struct Row {
        const char* name;
        std::vector<std::size_t> pieceClusters; // all pieces but the last, which takes the rest
        std::vector<std::size_t> cardOrder;     // where each piece lies, first on the card first
        bool lures;                             // another photo's data after each piece
        bool lastPieceLost;                     // the last piece is not on the card
        Verdict verdict;
    };
    const Row rows[] = {
        {"a lure after the first piece", {7}, {0, 1}, true, false, Verdict::Reassembled},
        {"the rest lost, a lure where it went", {6}, {0, 1}, true, true, Verdict::Truncated},
    };
    const Bytes photo = makePhoto({.width = 640, .height = 480, .seed = 21});
    const Bytes other = makePhoto({.width = 640, .height = 480, .seed = 22});
    const std::size_t otherData = (entropyStart(other) / kCluster + 1) * kCluster;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<Bytes> pieces;
        std::size_t at = 0;
        for (std::size_t clusters : row.pieceClusters) {
            pieces.emplace_back(photo.begin() + std::ptrdiff_t(at),
                                photo.begin() + std::ptrdiff_t(at + clusters * kCluster));
            at += clusters * kCluster;
        }
        pieces.emplace_back(photo.begin() + std::ptrdiff_t(at), photo.end());
        CardBuilder b;
        b.add(testing::filler(Filler::Random, kCluster, 1));
        for (std::size_t k = 0; k < row.cardOrder.size(); ++k) {
            const std::size_t piece = row.cardOrder[k];
            if (piece + 1 == pieces.size() && row.lastPieceLost)
                continue;
            b.add(pieces[piece]);
            const std::size_t gap = otherData + k * 3 * kCluster;
            if (row.lures)
                b.add(Bytes(other.begin() + std::ptrdiff_t(gap),
                            other.begin() + std::ptrdiff_t(gap + 2 * kCluster)));
            else
                b.add(testing::filler(Filler::Random, 2 * kCluster, std::uint32_t(k + 2)));
        }
        MemoryCard card(b.image, kSector);
        Recorder events;
        carveAll(card, events, {.clusterBytes = kCluster});

        ASSERT_EQ(events.files.size(), 1u);
        const FileVerdict& v = events.verdicts[1];
        // Whole only when it is the photo: anything else is said to be a guess, or less.
        if (v.verdict == Verdict::Complete || v.verdict == Verdict::Reassembled) {
            EXPECT_FALSE(row.lastPieceLost);
            EXPECT_TRUE(events.files[1] == photo);
            EXPECT_EQ(v.pieces.size(), pieces.size());
        }
        if (row.verdict != Verdict::Reassembled) {
            EXPECT_EQ(v.verdict, row.verdict);
        }
    }
}

TEST(JpegCarver, ClusterSizeIsLearnedFromWhereFilesStart)
{
    CardBuilder b;
    const Bytes split = makePhoto({.width = 320, .height = 240, .seed = 21});
    for (std::uint32_t i = 0; i < 3; ++i) {
        b.add(testing::filler(Filler::Random, kCluster * (i + 1), i));
        b.add(makePhoto({.seed = 30 + i}));
    }
    b.add(Bytes(split.begin(), split.begin() + 2 * kCluster));
    b.add(testing::filler(Filler::Text, 2 * kCluster, 5));
    b.add(Bytes(split.begin() + 2 * kCluster, split.end()));

    MemoryCard card(b.image, kSector);
    Recorder events;
    JpegCarver rule(card, events);
    for (std::uint64_t s = 0; s < card.sectorCount(); ++s)
        rule.sector(s, {card.image().data() + s * kSector, kSector});
    EXPECT_EQ(rule.clusterBytes(), kCluster);
    ASSERT_EQ(events.files.size(), 4u);
    EXPECT_TRUE(events.files[4] == split);
    EXPECT_EQ(events.verdicts[4].verdict, Verdict::Reassembled);
}

TEST(JpegCarver, WhatIsNotWholeIsSaid)
{
    const Bytes photo = makePhoto({.width = 320, .height = 240, .seed = 41});
    CardBuilder b;
    b.add(Bytes{0xFF, 0xD8, 0xFF, 0x00, 1, 2, 3}); // no JPEG: refused, no number
    b.add(photo);                                  // sector 8 of it cannot be read
    const std::uint64_t bad = 8 + 8;
    Bytes damaged = photo; // a stray marker in its data: damaged in place, written whole
    damaged[photo.size() / 2] = 0xFF;
    damaged[photo.size() / 2 + 1] = 0x9F;
    b.add(damaged);
    b.add(Bytes(photo.begin(), photo.begin() + 2 * kCluster)); // cut, then the card ends
    MemoryCard card(b.image, kSector, {bad});
    Recorder events;
    carveAll(card, events, {.clusterBytes = kCluster});

    ASSERT_EQ(events.refused.size(), 1u);
    EXPECT_EQ(events.refused[0].pieces, (std::vector<SectorRange>{{0, 0}}));
    ASSERT_EQ(events.files.size(), 3u);
    EXPECT_EQ(events.verdicts[1].verdict, Verdict::Truncated);
    EXPECT_EQ(events.closeReasons[1], CloseReason::Unreadable);
    EXPECT_TRUE(events.files[1] ==
                Bytes(photo.begin(), photo.begin() + std::ptrdiff_t((bad - 8) * kSector)));
    EXPECT_EQ(events.verdicts[2].verdict, Verdict::Damaged);
    EXPECT_EQ(events.closeReasons[2], CloseReason::EndMarker);
    EXPECT_TRUE(events.files[2] == damaged);
    EXPECT_EQ(events.verdicts[3].verdict, Verdict::Truncated);
    EXPECT_EQ(events.closeReasons[3], CloseReason::EndOfScan);
    EXPECT_EQ(events.files[3].size(), 2 * kCluster);
}

// Cards made to keep the rule busy, of about `bytes` bytes.
Bytes photosThatBreakOff(std::size_t bytes)
{
    // Every two or three clusters a photo starts whose data breaks off: each would search
    // the whole card for its second piece without a budget.
    const Bytes photo = makePhoto({.width = 320, .height = 240, .seed = 51});
    CardBuilder b;
    for (int i = 0; b.image.size() < bytes; ++i) {
        Bytes piece(photo.begin(), photo.begin() + kCluster + kSector);
        const Bytes noise =
            testing::filler(Filler::Random, (2 + i % 2) * kCluster - piece.size(), i);
        piece.insert(piece.end(), noise.begin(), noise.end());
        b.add(piece);
    }
    return b.image;
}

Bytes startsWithSegmentsIntoTheNext(std::size_t bytes)
{
    // Every sector starts a file whose APP0 segment reaches into the next sector, onto the
    // APP0 marker there: each walk would run over every later sector to the card's end.
    Bytes card(bytes, 0x20);
    for (std::size_t at = 0; at + kSector <= bytes; at += kSector) {
        const Bytes head{0xFF, 0xD8, 0xFF, 0xE0, 0x01, 0xFE}; // 510 bytes: to 2 past the next
        std::copy(head.begin(), head.end(), card.begin() + std::ptrdiff_t(at));
    }
    return card;
}

Bytes chainedTableSegments(std::size_t bytes)
{
    // Every sector starts a file with a DHT segment of three distinct tables that reaches
    // 2 bytes into the next sector (its start marker is the last table's last symbols), onto
    // the DHT marker there: each walk would read, and build, the tables of every later
    // sector.
    const std::array<std::uint8_t, 16> counts{0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d};
    std::mt19937 random(5);
    auto table = [&](Bytes& into, std::uint8_t id, std::uint8_t lastCount) {
        std::array<std::uint8_t, 16> c = counts;
        c[15] = lastCount;
        into.push_back(std::uint8_t(0x10 | id));
        into.insert(into.end(), c.begin(), c.end());
        Bytes symbols(std::accumulate(c.begin(), c.end(), std::size_t(0)));
        std::iota(symbols.begin(), symbols.end(), std::uint8_t(1));
        std::shuffle(symbols.begin(), symbols.end(), random);
        into.insert(into.end(), symbols.begin(), symbols.end());
    };
    Bytes card;
    while (card.size() < bytes) {
        Bytes sector{0xFF, 0xD8, 0xFF, 0xC4, 0x01, 0xFE}; // 508 bytes of tables
        table(sector, 0, 0x7d);                           // 179 bytes
        table(sector, 1, 0x7d);                           // 179
        table(sector, 2, 0x60);                           // 150, of which 2 in the next sector
        sector.resize(kSector);
        card.insert(card.end(), sector.begin(), sector.end());
    }
    card.resize(bytes);
    return card;
}

Bytes headersThatBreakBeforeLongChains(std::size_t bytes)
{
    // Photos whose headers break off after a long APP1 segment, between stretches of FF E0
    // FF E0 ...: from any even offset a chain of 64 KiB segments. Every candidate for a
    // second piece would walk such a chain to its end.
    CardBuilder b;
    for (int i = 0; b.image.size() < bytes; ++i) {
        Bytes head{0xFF, 0xD8, 0xFF, 0xE1, 0x30, 0x00};
        head.resize(2 + 0x3002, 0xA5);
        head.insert(head.end(), {0x12, 0x34}); // not a marker: the header breaks here
        b.add(head);
        Bytes chain(64 * kCluster);
        for (std::size_t k = 0; k < chain.size(); k += 2)
            chain[k] = 0xFF, chain[k + 1] = 0xE0;
        b.add(chain);
    }
    return b.image;
}

// The work of the rule's walks and searches stays in proportion to the card's size, and
// the gap search within its budget, on cards made to make it grow with the square.
TEST(JpegCarver, HostileCardsCostWorkInProportionToTheirSize)
{
    const struct {
        const char* name;
        Bytes (*make)(std::size_t bytes);
        std::uint64_t gapWindowBytes;
    } cards[] = {
        {"photos that break off", photosThatBreakOff, 64ull << 20},
        {"a start in every sector", startsWithSegmentsIntoTheNext, 64ull << 20},
        {"chained table segments", chainedTableSegments, 64ull << 20},
        {"searches that walk long chains", headersThatBreakBeforeLongChains, 1ull << 20},
    };
    // Bytes read, segments looked at and sectors tested, per byte of the card, at most.
    constexpr std::uint64_t kWorkPerCardByte = 16;
    for (const auto& c : cards) {
        SCOPED_TRACE(c.name);
        for (int i = 0; i < 2; ++i) {
            const std::size_t bytes = std::size_t(1) << (20 + 2 * i); // 1 MiB, 4 MiB
            MemoryCard card(c.make(bytes), kSector);
            Recorder events;
            const JpegRuleSettings settings{.clusterBytes = kCluster,
                                            .gapWindowBytes = c.gapWindowBytes,
                                            .searchBytesPerCardByte = 2,
                                            .searchAllowanceBytes = 1 << 20};
            JpegCarver rule(card, events, settings);
            for (std::uint64_t s = 0; s < card.sectorCount(); ++s)
                rule.sector(s, {card.image().data() + s * kSector, kSector});
            EXPECT_LE(rule.searchBytesWalked(),
                      settings.searchAllowanceBytes + 2 * bytes + 2 * (std::uint64_t(64) << 10))
                << bytes << " bytes";
            EXPECT_LE(rule.workDone(), kWorkPerCardByte * bytes + 4 * settings.searchAllowanceBytes)
                << bytes << " bytes";
        }
    }
}

// A source that answers each sector once, then stops answering (a card pulled out after
// the rule walked its photos): what is written is what could be read, and no file whose
// bytes went missing is called whole, nor any sector unreadable that was never read.
class CardThatDiesOnARereading : public MemoryCard
{
public:
    using MemoryCard::MemoryCard;
    std::size_t read(std::uint64_t first, std::size_t count, std::uint8_t* into) override
    {
        for (std::uint64_t s = first; s < first + count && !gone_; ++s)
            gone_ = !read_.insert(s).second;
        return gone_ ? 0 : MemoryCard::read(first, count, into);
    }
    std::size_t readMarking(std::uint64_t first, std::size_t count, std::uint8_t* into,
                            std::vector<bool>& /*unreadable*/) override
    {
        return read(first, count, into) == count ? count : 0;
    }
    bool gone() const override { return gone_; }

private:
    std::set<std::uint64_t> read_;
    bool gone_ = false;
};

TEST(JpegCarver, WhatTheSourceNoLongerGivesIsNotCalledWhole)
{
    // Photos larger than the rule's cache: writing them reads their first blocks again.
    CardBuilder b;
    std::vector<Bytes> photos;
    for (std::uint32_t i = 0; i < 3; ++i) {
        photos.push_back(makePhoto({.width = 1200, .height = 900, .quality = 95, .seed = 91 + i}));
        b.add(photos.back());
    }
    ASSERT_GT(photos[0].size(), 300u << 10);
    CardThatDiesOnARereading card(b.image, kSector);
    Recorder events;
    carveAll(card, events, {.clusterBytes = kCluster, .cacheBytes = 256 << 10});
    ASSERT_FALSE(events.files.empty());
    for (const auto& [n, v] : events.verdicts) {
        SCOPED_TRACE("file " + std::to_string(n));
        const Bytes& photo = photos.at(n - 1);
        const Bytes& file = events.files.at(n);
        ASSERT_LE(file.size(), photo.size());
        EXPECT_TRUE(std::equal(file.begin(), file.end(), photo.begin()));
        if (file.size() < photo.size()) {
            EXPECT_EQ(v.verdict, Verdict::Truncated);
            EXPECT_EQ(events.closeReasons.at(n), CloseReason::EndOfScan);
        }
    }
    EXPECT_LT(events.files[1].size(), photos[0].size()); // the source did go
}

// Ctrl-C is heard within a file's walk: the file holds what was walked and is closed as
// stopped, and no file comes after it.
TEST(JpegCarver, TheStopIsSeenWithinAWalk)
{
    CardBuilder b;
    Bytes chain{0xFF, 0xD8}; // then 16 MiB of 64 KiB segments: one walk of many steps
    chain.resize(16u << 20);
    for (std::size_t k = 2; k < chain.size(); k += 2)
        chain[k] = 0xFF, chain[k + 1] = 0xE0;
    b.add(chain);
    b.add(makePhoto({.seed = 95}));
    MemoryCard card(b.image, kSector);
    Recorder events;
    int asked = 0;
    JpegRuleSettings settings{.clusterBytes = kCluster};
    settings.stopRequested = [&] { return ++asked > 2; };
    JpegCarver rule(card, events, settings);
    for (std::uint64_t s = 0; s < card.sectorCount(); ++s)
        rule.sector(s, {card.image().data() + s * kSector, kSector});
    EXPECT_TRUE(rule.stopped());
    ASSERT_EQ(events.files.size(), 1u);
    EXPECT_EQ(events.closeReasons[1], CloseReason::Stopped);
    EXPECT_EQ(events.verdicts[1].verdict, Verdict::Truncated);
    EXPECT_GE(events.files[1].size(), 4u << 20);  // the first step of the walk
    EXPECT_LT(events.files[1].size(), 16u << 20); // not the whole chain
}

TEST(JpegCarver, WalkingAheadOnOtherThreadsChangesNoDecision)
{
    // Every kind of outcome on one card: whole photos, one in two pieces, one whose
    // data holds a stray marker, a start that is no JPEG, a photo with an unreadable sector,
    // photos that start inside photos, and a photo the card's end cuts.
    CardBuilder b;
    const Bytes split = makePhoto({.width = 320, .height = 240, .seed = 61});
    b.add(Bytes{0xFF, 0xD8, 0xFF, 0x00});
    for (std::uint32_t i = 0; i < 4; ++i)
        b.add(makePhoto({.seed = 62 + i}));
    b.add(Bytes(split.begin(), split.begin() + 2 * kCluster));
    b.add(makePhoto({.restartRows = 1, .seed = 70}));
    b.add(Bytes(split.begin() + 2 * kCluster, split.end()));
    Bytes damaged = makePhoto({.width = 320, .height = 240, .seed = 71});
    damaged[damaged.size() / 2] = 0xFF; // a stray marker
    damaged[damaged.size() / 2 + 1] = 0x9F;
    b.add(damaged);
    const std::uint64_t bad = b.sector() + 3;
    b.add(makePhoto({.width = 320, .height = 240, .seed = 72}));
    Bytes outer = makePhoto({.width = 400, .height = 300, .seed = 73});
    const Bytes inner = makePhoto({.seed = 74}); // begins a sector inside another photo
    std::copy(inner.begin(), inner.end(), outer.begin() + 3 * kSector);
    b.add(outer);
    b.add(makePhoto({.progressive = true, .seed = 75}));
    const Bytes last = makePhoto({.width = 320, .height = 240, .seed = 76});
    b.add(Bytes(last.begin(), last.begin() + 3 * kCluster));
    MemoryCard card(b.image, kSector, {bad});

    Recorder alone;
    carveAll(card, alone);
    for (unsigned threads : {1u, 3u}) {
        SCOPED_TRACE(std::to_string(threads) + " threads ahead");
        Recorder ahead;
        carveAll(card, ahead, {.lookAheadThreads = threads});
        EXPECT_EQ(ahead.files, alone.files);
        EXPECT_EQ(ahead.closeReasons, alone.closeReasons);
        ASSERT_EQ(ahead.verdicts.size(), alone.verdicts.size());
        for (const auto& [n, v] : alone.verdicts) {
            EXPECT_EQ(ahead.verdicts[n].verdict, v.verdict) << "file " << n;
            EXPECT_EQ(ahead.verdicts[n].pieces, v.pieces) << "file " << n;
        }
        EXPECT_EQ(ahead.refused.size(), alone.refused.size());
    }
    // The card holds what it is meant to: none of the outcomes above went missing (the
    // photo in two pieces is cut in its first rows, too near the top for the picture to
    // show the joint).
    std::set<Verdict> seen;
    for (const auto& [n, v] : alone.verdicts)
        seen.insert(v.verdict);
    EXPECT_EQ(seen, (std::set<Verdict>{Verdict::Complete, Verdict::Uncertain, Verdict::Truncated}));
    EXPECT_EQ(alone.refused.size(), 1u);
}

} // namespace
} // namespace velo::jpeg
