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

// FF D9 at `at` and `zeros` zeros after it, then the bytes in `set`.
Bytes endSector(std::size_t size, std::size_t at, std::size_t zeros,
                std::initializer_list<std::pair<std::size_t, std::uint8_t>> set = {},
                std::uint8_t fill = 0x55)
{
    Bytes s = sectorOf(size, set, fill);
    s[at] = 0xFF, s[at + 1] = 0xD9;
    std::fill(s.begin() + std::ptrdiff_t(at + 2), s.begin() + std::ptrdiff_t(at + 2 + zeros), 0);
    return s;
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
    const Bytes s12 = endSector(512, 98, 11, {}, 0x33);
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

// Sectors fed in order, and what the carver holds after them: whether it still writes,
// its counter, and the length of file 1 (0: none was opened).
TEST(Carver, WhereFilesStartAndEnd)
{
    const struct {
        const char* name;
        struct {
            bool writing;
            std::uint64_t counter;
            std::size_t firstFileBytes;
        } after;
        std::vector<Bytes> sectors;
    } cases[] = {
        {"a start marker counts only at the sector's first byte",
         {false, 1, 0},
         {sectorOf(512, {{1, 0xFF}, {2, 0xD8}, {3, 0xFF}}),
          sectorOf(512, {{0, 0xFF}, {1, 0xD8}, {2, 0xFE}})}},
        {"a non-zero byte ten places after the zero is inside the window: no end",
         {true, 1, 1024},
         {startSector(), endSector(512, 100, 10, {{112, 0x01}})}},
        {"the window is cut at the sector's end: a zero in its last place ends the file",
         {false, 2, 512 + 511},
         {startSector(), endSector(512, 509, 1), Bytes(512, 0x77)}},
        {"FF D9 as a sector's last two bytes, the zeros at the next one's start",
         {false, 2, 1024},
         {startSector(), sectorOf(512, {{510, 0xFF}, {511, 0xD9}}), Bytes(512, 0x00)}},
        {"FF as a sector's last byte, D9 00 at the next one's start",
         {false, 2, 1025},
         {startSector(), sectorOf(512, {{511, 0xFF}}), sectorOf(512, {{0, 0xD9}, {20, 0x42}}, 0)}},
        // After a sector ending FF D9 while nothing is written, a start sector (which
        // begins FF) is no end marker's zero.
        {"the history runs on while not writing but ends nothing",
         {true, 1, 512},
         {endSector(512, 100, 1, {}, 0x00), sectorOf(512, {{510, 0xFF}, {511, 0xD9}}),
          startSector()}},
        {"sectors too small for a start marker never open a file",
         {false, 1, 0},
         {Bytes(), Bytes(), Bytes(1, 0xFF), Bytes(1, 0xD8), Bytes(2, 0xFF), Bytes(2, 0xD8)}},
        {"odd sector sizes carve only the bytes read",
         {false, 2, 21 + 7},
         {startSector(21), endSector(21, 5, 11)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CarveRecorder events;
        Carver carver(events);
        for (const Bytes& sector : c.sectors)
            carver.sector(sector);
        EXPECT_EQ(carver.writing(), c.after.writing);
        EXPECT_EQ(carver.fileCounter(), c.after.counter);
        EXPECT_EQ(events.files.count(1) ? events.files.at(1).size() : 0, c.after.firstFileBytes);
        EXPECT_EQ(events.files.size(), c.after.firstFileBytes ? 1u : 0u);
        EXPECT_EQ(events.fault, "");
    }
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
