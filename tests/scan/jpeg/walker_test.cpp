#include "scan/jpeg/walker.h"
#include "tests/scan/jpeg/testphotos.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <tuple>

namespace velo::jpeg
{
namespace
{

using testing::Bytes;
using testing::makePhoto;
using testing::MemoryCard;
using testing::PhotoRecipe;

Bytes padded(Bytes b, std::size_t sector = 512)
{
    b.resize((b.size() + sector - 1) / sector * sector, 0);
    return b;
}

// A segment: marker, length, payload.
Bytes segment(std::uint8_t marker, const Bytes& payload)
{
    const std::size_t length = payload.size() + 2;
    Bytes s{0xFF, marker, std::uint8_t(length >> 8), std::uint8_t(length)};
    s.insert(s.end(), payload.begin(), payload.end());
    return s;
}

// The photo with a segment put right after its start marker.
Bytes withSegment(const Bytes& photo, const Bytes& seg)
{
    Bytes b(photo.begin(), photo.begin() + 2);
    b.insert(b.end(), seg.begin(), seg.end());
    b.insert(b.end(), photo.begin() + 2, photo.end());
    return b;
}

// An APP2 MPF index of two images: the first at offset 0, the second at `second`
// (relative to the index's TIFF header, which lies 10 bytes into a file where this
// segment follows the start marker).
Bytes mpfSegment(std::uint32_t firstBytes, std::uint32_t secondBytes, std::uint32_t second)
{
    auto le32 = [](Bytes& b, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b.push_back(std::uint8_t(v >> (8 * i)));
    };
    Bytes p{'M', 'P', 'F', 0, 'I', 'I', 0x2A, 0};
    le32(p, 8);                                  // first IFD
    p.insert(p.end(), {1, 0, 0x02, 0xB0, 7, 0}); // one entry: MPEntry, UNDEFINED
    le32(p, 32);                                 // two entries of 16 bytes
    le32(p, 26);                                 // their offset
    le32(p, 0);                                  // no next IFD
    for (auto [bytes, offset] : {std::pair{firstBytes, 0u}, std::pair{secondBytes, second}}) {
        le32(p, 0x030000);
        le32(p, bytes);
        le32(p, offset);
        le32(p, 0);
    }
    return segment(0xE2, p);
}

struct Walked {
    Outcome outcome;
    BreakCause cause;
    std::uint64_t length;
    std::uint64_t breakAt;
    std::uint32_t segments;
    bool decodedAll;
    bool unreadable;
};

Walked walk(const Bytes& image, std::set<std::uint64_t> bad = {})
{
    MemoryCard card(image, 512, std::move(bad));
    SharedBlocks blocks(card, 1 << 20);
    CardBytes bytes(blocks);
    Walker w(bytes, Layout{0}, 1 << 30);
    const Outcome o = w.run();
    return {
        o, w.cause(), w.length(), w.breakAt(), w.state().segments, w.decodedAll(), w.unreadable()};
}

struct Case {
    const char* name;
    std::function<Bytes()> image;
    Outcome outcome;
    BreakCause cause;
    // Complete: the file's length; Broken or DataEnd: where the walk stopped.
    std::function<std::uint64_t()> at;
    bool decodedAll = true;
    std::set<std::uint64_t> bad = {}; // sectors that cannot be read
};

const Bytes& baseline()
{
    static const Bytes b = makePhoto({});
    return b;
}
const Bytes& restarts()
{
    static const Bytes b = makePhoto({.restartRows = 1, .seed = 2});
    return b;
}
const Bytes& progressive()
{
    static const Bytes b = makePhoto({.progressive = true, .seed = 3});
    return b;
}
const Bytes& thumb()
{
    static const Bytes b = makePhoto({.width = 32, .height = 24, .seed = 4});
    return b;
}

// Bytes with the one at `at` replaced.
Bytes changed(Bytes b, std::size_t at, std::uint8_t value)
{
    b.at(at) = value;
    return b;
}

Bytes firstBytes(const Bytes& b, std::size_t n)
{
    return Bytes(b.begin(), b.begin() + std::ptrdiff_t(n));
}

Bytes joined(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes withMpf()
{
    const Bytes second = makePhoto({.width = 64, .height = 48, .seed = 5});
    const Bytes mpf = mpfSegment(0, 0, 0); // for its size only
    const std::uint32_t firstBytes = std::uint32_t(baseline().size() + mpf.size());
    return joined(withSegment(baseline(), mpfSegment(firstBytes, std::uint32_t(second.size()),
                                                     firstBytes - 10)),
                  second);
}

// A segment of `bytes` after the start marker, with a later start (FF D8 FF) at the
// beginning of each of its first `starts` whole sectors: thumbnails in an EXIF block, or a
// card made so that every walk runs over every later start.
Bytes withStartsInASegment(std::size_t bytes, std::size_t starts)
{
    Bytes payload(bytes, 0x41);
    for (std::size_t i = 1; i <= starts; ++i)
        std::copy_n(thumb().begin(), 3, payload.begin() + std::ptrdiff_t(i * 512 - 6));
    return padded(withSegment(baseline(), segment(0xE1, payload)));
}

// An MPF index whose second image lies `gap` bytes past where the first one ends.
Bytes withMpfGap(std::size_t gap)
{
    const Bytes second = makePhoto({.width = 64, .height = 48, .seed = 5});
    const Bytes mpf = mpfSegment(0, 0, 0); // for its size only
    const std::uint32_t firstBytes = std::uint32_t(baseline().size() + mpf.size());
    Bytes b = withSegment(baseline(), mpfSegment(firstBytes, std::uint32_t(second.size()),
                                                 std::uint32_t(firstBytes + gap - 10)));
    b.resize(b.size() + gap, 0x55);
    return joined(b, second);
}

const Case kCases[] = {
    {"BaselinePhoto", [] { return padded(baseline()); }, Outcome::Complete, BreakCause::None,
     [] { return baseline().size(); }},
    {"RestartMarkersInSequence", [] { return padded(restarts()); }, Outcome::Complete,
     BreakCause::None, [] { return restarts().size(); }},
    {"ProgressiveWithManyScans", [] { return padded(progressive()); }, Outcome::Complete,
     BreakCause::None, [] { return progressive().size(); }, false},
    {"EmbeddedThumbnailSkippedWhole",
     [] {
         Bytes app1{'E', 'x', 'i', 'f', 0, 0};
         app1.insert(app1.end(), thumb().begin(), thumb().end());
         return padded(withSegment(baseline(), segment(0xE1, app1)));
     },
     Outcome::Complete, BreakCause::None, [] { return baseline().size() + thumb().size() + 10; }},
    {"MpfSecondImageIncluded", [] { return padded(withMpf()); }, Outcome::Complete,
     BreakCause::None, [] { return withMpf().size(); }},
    {"MpfImageThatIsNotThereIsLeftOut",
     [] {
         Bytes b = withMpf();
         b.resize(baseline().size() + mpfSegment(0, 0, 0).size());
         return padded(joined(b, Bytes(600, 0x42)));
     },
     Outcome::Complete, BreakCause::None,
     [] { return baseline().size() + mpfSegment(0, 0, 0).size(); }},
    {"RestartMarkerOutOfSequence",
     [] { return padded(changed(restarts(), testing::findRestart(restarts(), 1) + 1, 0xD2)); },
     Outcome::Broken, BreakCause::RestartOrder, [] { return testing::findRestart(restarts(), 1); }},
    {"MarkerWhereStuffingBelongs",
     [] { return padded(changed(baseline(), testing::findStuffing(baseline()) + 1, 0xC4)); },
     Outcome::Broken, BreakCause::MarkerInData, [] { return testing::findStuffing(baseline()); }},
    {"StartMarkerInsideTheData",
     [] { return padded(changed(baseline(), testing::findStuffing(baseline()) + 1, 0xD8)); },
     Outcome::Broken, BreakCause::NextStart, [] { return testing::findStuffing(baseline()); }},
    {"SegmentLengthPastTheCardsEnd",
     [] {
         return padded(firstBytes(withSegment(baseline(), segment(0xE1, Bytes(4000, 1))), 1024));
     },
     Outcome::DataEnd, BreakCause::None, [] { return 4006; }},
    {"ZeroSegmentLength",
     [] {
         return padded(Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0, 0, 1, 2});
     },
     Outcome::Broken, BreakCause::BadSegment, [] { return 2; }},
    {"CutShortThenZeros", [] { return joined(firstBytes(baseline(), 4096), Bytes(2048, 0)); },
     Outcome::Broken, BreakCause::PlainSector, [] { return 4096; }},
    {"CutShortThenText",
     [] {
         return joined(firstBytes(baseline(), 4096),
                       testing::filler(testing::Filler::Text, 2048, 1));
     },
     Outcome::Broken, BreakCause::PlainSector, [] { return 4096; }},
    {"CutShortAtTheCardsEnd", [] { return firstBytes(baseline(), 4096); }, Outcome::DataEnd,
     BreakCause::None, [] { return 4096; }},
    {"FewStartsInASegmentArePassed",
     [] { return withStartsInASegment(6000, Walker::kStartsPassedMost); }, Outcome::Complete,
     BreakCause::None, [] { return baseline().size() + 6004; }},
    {"ManyStartsInASegmentBreakTheWalk",
     [] { return withStartsInASegment(6000, Walker::kStartsPassedMost + 1); }, Outcome::Broken,
     BreakCause::NextStart, [] { return 2; }},
    {"MpfImageWithinItsPaddingIncluded", [] { return padded(withMpfGap(1000)); }, Outcome::Complete,
     BreakCause::None, [] { return withMpfGap(1000).size(); }},
    {"MpfImageFarPastTheDeclaredEndIsLeftOut", [] { return padded(withMpfGap(100000)); },
     Outcome::Complete, BreakCause::None,
     [] { return baseline().size() + mpfSegment(0, 0, 0).size(); }},
    {"UnreadableSectorInsideASegmentReadWhole",
     [] {
         // An MPF segment is read whole; its sector 2 cannot be read.
         Bytes mpf = mpfSegment(0, 0, 0);
         mpf.resize(3000, 0);
         mpf[2] = std::uint8_t((mpf.size() - 2) >> 8);
         mpf[3] = std::uint8_t(mpf.size() - 2);
         return padded(withSegment(baseline(), mpf));
     },
     Outcome::DataEnd,
     BreakCause::None,
     [] { return 1024; },
     true,
     {2}},
};

class WalkerCases : public ::testing::TestWithParam<Case>
{
};

TEST_P(WalkerCases, EndsWhereTheStructureSays)
{
    const Case& c = GetParam();
    const Walked w = walk(c.image(), c.bad);
    ASSERT_EQ(w.outcome, c.outcome);
    EXPECT_EQ(w.unreadable, !c.bad.empty());
    EXPECT_EQ(w.cause, c.cause);
    if (c.outcome == Outcome::Complete)
        EXPECT_EQ(w.length, c.at());
    else if (c.outcome == Outcome::DataEnd || c.cause == BreakCause::PlainSector)
        EXPECT_EQ(w.breakAt, c.at());
    else
        // A decoding error shows up a few bytes after the bad ones: the bits read ahead.
        EXPECT_TRUE(w.breakAt >= c.at() && w.breakAt <= c.at() + 16)
            << w.breakAt << " vs " << c.at();
    EXPECT_EQ(w.decodedAll, c.decodedAll);
}

INSTANTIATE_TEST_SUITE_P(Walker, WalkerCases, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Walker, ThePhotosHoldWhatTheCasesTest)
{
    EXPECT_GT(testing::findStuffing(baseline()), 0u);
    EXPECT_GT(testing::findRestart(restarts(), 1), 0u);
    EXPECT_FALSE(testing::decodePixels(progressive()).empty());
}

TEST(Walker, ZeroSegmentLengthHasNoSegment)
{
    EXPECT_EQ(walk(padded(Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0, 0})).segments, 0u);
}

// Walks that take several codes at once end exactly as walks that take every code on its
// own: same outcome, cause, length, break and resume points, on photos whose blocks end
// with and without an end of block, cut short and damaged at many places (codes the tables
// do not have, coefficients past the block, markers in the data).
struct CodesAtOnce {
    const char* name;
    PhotoRecipe photo;
};

class CodesAtOnceCases : public ::testing::TestWithParam<CodesAtOnce>
{
};

auto decoding(const WalkState& s)
{
    return std::tuple(s.pos, s.bits.bits, s.bits.count, s.scan.k, s.scan.blockInMcu, s.scan.mcuDone,
                      s.scan.dcPred, s.scan.sinceRestart, s.scan.nextRestart, s.bits.afterFF,
                      s.bits.marker, s.bits.markerAt);
}
using Decoding = decltype(decoding(WalkState{}));

struct FullWalk {
    Outcome outcome;
    BreakCause cause;
    std::uint64_t end;            // the length, or where the walk stopped
    std::vector<Decoding> points; // the resume points, then the states where it paused
};

// The walk, paused every 64 bytes (at the next MCU) to look at its state.
FullWalk fullWalk(const Bytes& image, std::uint64_t maxFileBytes, bool oneCodeAtATime)
{
    MemoryCard card(padded(image), 512);
    SharedBlocks blocks(card, 1 << 20);
    CardBytes bytes(blocks);
    Walker w(bytes, Layout{0}, maxFileBytes);
    w.oneCodeAtATime(oneCodeAtATime);
    w.keepResumePoints(512, 1 << 16);
    std::vector<Decoding> paused;
    Outcome o = Outcome::Running;
    for (std::uint64_t at = 64; (o = w.run(at)) == Outcome::Running; at += 64)
        paused.push_back(decoding(w.state()));
    FullWalk walk{o, w.cause(), o == Outcome::Complete ? w.length() : w.breakAt(), {}};
    for (const WalkState& p : w.resumePoints())
        walk.points.push_back(decoding(p));
    walk.points.insert(walk.points.end(), paused.begin(), paused.end());
    return walk;
}

TEST_P(CodesAtOnceCases, EndLikeCodesOneByOne)
{
    const Bytes photo = makePhoto(GetParam().photo);
    const std::size_t data = testing::entropyStart(photo);
    ASSERT_GT(data, 0u);
    struct Image {
        std::string what;
        Bytes bytes;
        std::uint64_t maxFileBytes = 1 << 30;
    };
    std::vector<Image> images{{"whole", photo}};
    const std::size_t step = std::max<std::size_t>(1, (photo.size() - data) / 127);
    for (std::size_t at = data; at + 2 < photo.size(); at += step) {
        const std::string where = std::to_string(at);
        for (std::uint8_t flip : {0x01, 0x24, 0x80, 0xFF})
            images.push_back({"byte " + where + " ^ " + std::to_string(flip),
                              changed(photo, at, std::uint8_t(photo[at] ^ flip))});
        images.push_back(
            {"cut at " + where + ", then random bytes",
             joined(firstBytes(photo, at), testing::filler(testing::Filler::Random, 1024, 7))});
        images.push_back({"the data ends at " + where, photo, at});
    }
    std::set<BreakCause> causes;
    for (const auto& [what, image, maxFileBytes] : images) {
        SCOPED_TRACE(what);
        const FullWalk atOnce = fullWalk(image, maxFileBytes, false);
        const FullWalk oneByOne = fullWalk(image, maxFileBytes, true);
        ASSERT_EQ(atOnce.outcome, oneByOne.outcome);
        EXPECT_EQ(atOnce.cause, oneByOne.cause);
        EXPECT_EQ(atOnce.end, oneByOne.end);
        ASSERT_EQ(atOnce.points.size(), oneByOne.points.size());
        for (std::size_t i = 0; i < atOnce.points.size(); ++i)
            ASSERT_EQ(atOnce.points[i], oneByOne.points[i]) << "point " << i;
        causes.insert(oneByOne.cause);
    }
    // The damage reached the paths it is meant to.
    EXPECT_TRUE(causes.count(BreakCause::BadValue));
    EXPECT_TRUE(causes.count(BreakCause::MarkerInData));
}

const CodesAtOnce kCodesAtOnce[] = {
    // Most blocks full to their last coefficient: runs cross from one block to the next.
    {"FullBlocks", {.width = 96, .height = 64, .quality = 100, .seed = 11}},
    // Most blocks end early: runs end with the end of the block.
    {"ShortBlocks", {.width = 200, .height = 136, .quality = 30, .seed = 12}},
    // Many small coefficients with short codes: three of them in one look-up.
    {"ShortCodes", {.width = 320, .height = 240, .quality = 50, .seed = 14}},
    {"RestartEveryRow", {.width = 120, .height = 88, .quality = 90, .restartRows = 1, .seed = 13}},
    // Large coefficients: codes whose extra bits reach past the run look-up's index, with
    // restart markers between them.
    {"LongValuesWithRestarts",
     {.width = 128, .height = 96, .quality = 100, .restartRows = 2, .seed = 15}},
};

INSTANTIATE_TEST_SUITE_P(Walker, CodesAtOnceCases, ::testing::ValuesIn(kCodesAtOnce),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace velo::jpeg
