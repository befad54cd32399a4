#include "scan/jpeg/jpegcarver.h"
#include "tests/scan/jpeg/testphotos.h"
#include "tests/support/carverecorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

namespace velo::jpeg
{
namespace
{

using testing::Bytes;
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
        testing::PhotoSpec recipe;
        std::size_t cutClusters; // the first piece
        Filler gap;
        std::size_t gapClusters;
    };
    const Split splits[] = {
        {"random gap", {.width = 320, .height = 240, .seed = 11}, 2, Filler::Random, 3},
        {"text gap", {.width = 320, .height = 240, .seed = 12}, 3, Filler::Text, 1},
        {"zero gap, restarts",
         {.width = 320, .height = 240, .restartRows = 2, .seed = 13},
         1,
         Filler::Zeros,
         7},
        {"another photo in the gap",
         {.width = 400, .height = 300, .seed = 14},
         4,
         Filler::Random,
         0},
    };
    CardBuilder b;
    std::vector<std::pair<Bytes, std::vector<SectorRange>>> expected;
    for (std::size_t i = 0; i < std::size(splits); ++i) {
        const Split& s = splits[i];
        const Bytes photo = makePhoto(s.recipe);
        const std::size_t cut = s.cutClusters * kCluster;
        ASSERT_LT(cut, photo.size()) << s.name;
        b.add(testing::filler(Filler::Random, kCluster, std::uint32_t(i)));
        const std::uint64_t first = b.sector();
        b.add(Bytes(photo.begin(), photo.begin() + std::ptrdiff_t(cut)));
        expected.push_back({photo, {{first, first + cut / kSector - 1}}});
        if (s.gapClusters)
            b.add(testing::filler(s.gap, s.gapClusters * kCluster, std::uint32_t(i + 100)));
        else {
            // A whole photo between the pieces: a file of its own.
            const Bytes other = makePhoto({.seed = 99});
            expected.push_back({other, {{b.sector(), b.sector() + (other.size() - 1) / kSector}}});
            b.add(other);
        }
        const std::uint64_t second = b.sector();
        b.add(Bytes(photo.begin() + std::ptrdiff_t(cut), photo.end()));
        expected[expected.size() - (s.gapClusters ? 1 : 2)].second.push_back(
            {second, second + (photo.size() - cut - 1) / kSector});
    }
    b.add(testing::filler(Filler::Random, kCluster, 7));

    MemoryCard card(b.image, kSector);
    Recorder events;
    carveAll(card, events, {.clusterBytes = kCluster});

    ASSERT_EQ(events.files.size(), expected.size());
    std::size_t n = 1;
    for (const auto& [photo, pieces] : expected) {
        SCOPED_TRACE("file " + std::to_string(n));
        EXPECT_TRUE(events.files[n] == photo);
        EXPECT_EQ(events.verdicts[n].verdict,
                  pieces.size() == 2 ? Verdict::Reassembled : Verdict::Complete);
        EXPECT_EQ(events.verdicts[n].pieces, pieces);
        EXPECT_EQ(events.closeReasons[n], CloseReason::EndMarker);
        EXPECT_EQ(testing::decodePixels(events.files[n]), testing::decodePixels(photo));
        ++n;
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

TEST(JpegCarver, AHostileCardCostsWorkInProportionToItsSize)
{
    // Every two or three clusters a photo starts whose data breaks off: each would search
    // the whole card for its second piece without a budget.
    const Bytes photo = makePhoto({.width = 320, .height = 240, .seed = 51});
    CardBuilder b;
    for (int i = 0; i < 512; ++i) {
        Bytes piece(photo.begin(), photo.begin() + kCluster + kSector);
        const Bytes noise =
            testing::filler(Filler::Random, (2 + i % 2) * kCluster - piece.size(), i);
        piece.insert(piece.end(), noise.begin(), noise.end());
        b.add(piece);
    }
    MemoryCard card(b.image, kSector);
    Recorder events;
    const JpegRuleSettings settings{.searchBytesPerCardByte = 2, .searchAllowanceBytes = 1 << 20};
    JpegCarver rule(card, events, settings);
    for (std::uint64_t s = 0; s < card.sectorCount(); ++s)
        rule.sector(s, {card.image().data() + s * kSector, kSector});
    EXPECT_EQ(events.files.size(), 512u);
    EXPECT_LE(rule.searchBytesWalked(),
              settings.searchAllowanceBytes + 2 * b.image.size() + settings.maxFileBytes);
    EXPECT_GT(rule.searchBytesWalked(), 0u);
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
    // The card holds what it is meant to: none of the outcomes above went missing.
    std::set<Verdict> seen;
    for (const auto& [n, v] : alone.verdicts)
        seen.insert(v.verdict);
    EXPECT_EQ(seen,
              (std::set<Verdict>{Verdict::Complete, Verdict::Reassembled, Verdict::Truncated}));
    EXPECT_EQ(alone.refused.size(), 1u);
}

} // namespace
} // namespace velo::jpeg
