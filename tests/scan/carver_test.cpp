#include "scan/carver.h"
#include "tests/support/carverecorder.h"
#include "tests/support/naivecarver.h"

#include <gtest/gtest.h>

#include <random>

namespace velo
{
namespace
{

using testing::CarveRecorder;
using Bytes = std::vector<std::uint8_t>;

Bytes sectorOf(std::size_t size, std::initializer_list<std::pair<std::size_t, std::uint8_t>> set,
               std::uint8_t fill = 0x55)
{
    Bytes s(size, fill);
    for (auto [at, value] : set)
        s[at] = value;
    return s;
}

Bytes startSector(std::size_t size = 512)
{
    return sectorOf(size, {{0, 0xFF}, {1, 0xD8}, {2, 0xFF}});
}

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

struct CarverFixture : ::testing::Test {
    CarveRecorder events;
    Carver carver{events};
    void feed(const Bytes& s) { carver.sector(s); }
};

TEST_F(CarverFixture, WorkedExampleEndsAtTheMarkerAndNumbersTheNextStream)
{
    for (int i = 0; i < 10; ++i)
        feed(Bytes(512, 0x11));
    const Bytes s10 = startSector(), s11 = Bytes(512, 0x22);
    Bytes s12 = Bytes(512, 0x33);
    s12[98] = 0xFF;
    s12[99] = 0xD9;
    std::fill(s12.begin() + 100, s12.begin() + 111, 0x00);
    feed(s10);
    feed(s11);
    feed(s12);

    ASSERT_EQ(events.files.size(), 1u);
    const Bytes& file = events.files[1];
    EXPECT_EQ(file.size(), 1124u);
    EXPECT_EQ(file, concat({s10, s11, Bytes(s12.begin(), s12.begin() + 100)}));
    EXPECT_EQ(events.closeReasons[1], CloseReason::EndMarker);
    EXPECT_FALSE(carver.writing());
    EXPECT_EQ(carver.fileCounter(), 2u);

    feed(startSector());
    EXPECT_EQ(events.current, 2u);
}

TEST_F(CarverFixture, StartMarkerCountsOnlyAtTheSectorsFirstByte)
{
    feed(sectorOf(512, {{1, 0xFF}, {2, 0xD8}, {3, 0xFF}}));
    feed(sectorOf(512, {{0, 0xFF}, {1, 0xD8}, {2, 0xFE}}));
    EXPECT_TRUE(events.files.empty());
    EXPECT_FALSE(carver.writing());
}

TEST_F(CarverFixture, NonZeroByteInsideTheWindowIsNoEnd)
{
    feed(startSector());
    // FF D9 00 then a 01 ten positions after the zero: still inside the window.
    feed(sectorOf(512, {{100, 0xFF},
                        {101, 0xD9},
                        {102, 0},
                        {103, 0},
                        {104, 0},
                        {105, 0},
                        {106, 0},
                        {107, 0},
                        {108, 0},
                        {109, 0},
                        {110, 0},
                        {111, 0},
                        {112, 0x01}}));
    EXPECT_TRUE(carver.writing());
    EXPECT_EQ(events.files[1].size(), 1024u);
}

TEST_F(CarverFixture, WindowIsCutAtTheSectorsEnd)
{
    feed(startSector());
    // The zero at the last position: the window holds only that byte, so it ends there,
    // even though the next sector begins with non-zero bytes.
    feed(sectorOf(512, {{509, 0xFF}, {510, 0xD9}, {511, 0x00}}));
    EXPECT_FALSE(carver.writing());
    EXPECT_EQ(events.files[1].size(), 512u + 511u);
    feed(Bytes(512, 0x77));
    EXPECT_EQ(events.files[1].size(), 512u + 511u);
}

TEST_F(CarverFixture, EndMarkerStraddlingTheSectorBoundary)
{
    // FF D9 as the last two bytes, eleven zeros at the next sector's start.
    feed(startSector());
    feed(sectorOf(512, {{510, 0xFF}, {511, 0xD9}}));
    feed(sectorOf(512, {}, 0x00));
    ASSERT_FALSE(carver.writing());
    EXPECT_EQ(events.files[1].size(), 1024u);
    EXPECT_EQ(events.files[1].back(), 0xD9);

    // FF as the last byte, D9 00 … at the next sector's start.
    feed(startSector());
    feed(sectorOf(512, {{511, 0xFF}}));
    Bytes next(512, 0x00);
    next[0] = 0xD9;
    next[20] = 0x42; // outside the window
    feed(next);
    ASSERT_FALSE(carver.writing());
    EXPECT_EQ(events.files[2].size(), 1025u);
    EXPECT_EQ(events.files[2].back(), 0xD9);
}

TEST_F(CarverFixture, NewStartClosesTheOpenFileUnchanged)
{
    feed(startSector());
    const Bytes second = sectorOf(512, {{0, 0xFF}, {1, 0xD8}, {2, 0xFF}, {3, 0x01}});
    feed(second);
    EXPECT_EQ(events.files[1], startSector());
    EXPECT_EQ(events.closeReasons[1], CloseReason::NextStart);
    EXPECT_EQ(events.current, 2u);
    EXPECT_EQ(events.files[2], second);
    carver.finish(CloseReason::EndOfScan);
    EXPECT_EQ(events.closeReasons[2], CloseReason::EndOfScan);
    EXPECT_FALSE(carver.writing());
}

TEST_F(CarverFixture, HistoryRunsOnWhileNotWritingButEndsNothing)
{
    feed(sectorOf(512, {{100, 0xFF}, {101, 0xD9}, {102, 0x00}}, 0x00));
    EXPECT_EQ(carver.fileCounter(), 1u);
    // History from a sector that was not written still completes a marker later.
    feed(sectorOf(512, {{510, 0xFF}, {511, 0xD9}}));
    Bytes start = startSector();
    feed(start); // begins FF, so the history FF D9 ends nothing here
    EXPECT_TRUE(carver.writing());
    EXPECT_EQ(events.files[1], start);
}

TEST_F(CarverFixture, SectorsTooSmallForAStartMarkerNeverOpenAFile)
{
    for (std::size_t size : {0u, 1u, 2u}) {
        feed(Bytes(size, 0xFF));
        feed(sectorOf(size, {}, 0xD8));
    }
    EXPECT_TRUE(events.files.empty());
}

TEST_F(CarverFixture, OddSectorSizesCarveOnlyTheBytesRead)
{
    const Bytes start = sectorOf(21, {{0, 0xFF}, {1, 0xD8}, {2, 0xFF}});
    feed(start);
    feed(sectorOf(21, {{5, 0xFF},
                       {6, 0xD9},
                       {7, 0},
                       {8, 0},
                       {9, 0},
                       {10, 0},
                       {11, 0},
                       {12, 0},
                       {13, 0},
                       {14, 0},
                       {15, 0},
                       {16, 0},
                       {17, 0}}));
    EXPECT_EQ(events.files[1].size(), 21u + 7u);
}

// Random streams with many markers against the byte-at-a-time model: sizes of every
// kind, sectors that are skipped as failed reads, markers across boundaries.
TEST(CarverAgainstModel, RandomStreamsCarveTheSameFiles)
{
    std::mt19937_64 random(20261207);
    for (int round = 0; round < 400; ++round) {
        const std::size_t sectorBytes =
            std::vector<std::size_t>{1, 2, 3, 5, 16, 17, 64, 512}[random() % 8];
        CarveRecorder events;
        Carver carver(events);
        testing::NaiveCarve model;
        const int sectors = int(random() % 60) + 1;
        for (int i = 0; i < sectors; ++i) {
            Bytes s(sectorBytes);
            for (auto& b : s) {
                const auto r = random() % 10;
                b = r < 5   ? 0x00
                    : r < 7 ? 0xFF
                    : r < 8 ? 0xD9
                    : r < 9 ? 0xD8
                            : std::uint8_t(random());
            }
            if (random() % 3 == 0 && sectorBytes >= 3)
                s[0] = 0xFF, s[1] = 0xD8, s[2] = 0xFF;
            carver.sector(s);
            model.sector(s);
        }
        ASSERT_EQ(events.files, model.files)
            << "round " << round << ", sector size " << sectorBytes;
        ASSERT_EQ(carver.writing(), model.writing);
        ASSERT_EQ(carver.fileCounter(), model.counter);
    }
}

} // namespace
} // namespace velo
