#include "cli/chunkreader.h"
#include "cli/readatsectors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <numeric>
#include <optional>
#include <set>

namespace velo::cli
{
namespace
{

using Bytes = std::vector<std::uint8_t>;

// A source in memory whose reads fail whenever they touch a bad sector, the way a disk
// with a damaged sector behaves; it can also hand out short reads and interruptions.
struct FlakySource {
    FlakySource(Bytes b, std::uint32_t size, std::set<std::uint64_t> badSectors)
        : bytes(std::move(b)), sectorBytes(size), bad(std::move(badSectors))
    {
    }
    Bytes bytes;
    std::uint32_t sectorBytes;
    std::set<std::uint64_t> bad;
    std::size_t shortReadLimit = 0;             // nonzero: no read gives more than this
    int interruptions = 0;                      // this many reads fail with EINTR first
    std::uint64_t goneFrom = ~std::uint64_t(0); // reads from this sector on fail with goneError
    int goneError = ENODEV;
    std::vector<std::pair<std::uint64_t, std::size_t>> reads; // offset, count

    ReadAt reader()
    {
        return [this](std::uint8_t* into, std::size_t count, std::uint64_t offset) -> ssize_t {
            reads.emplace_back(offset, count);
            if (interruptions > 0) {
                --interruptions;
                errno = EINTR;
                return -1;
            }
            if (count > 0 && (offset + count - 1) / sectorBytes >= goneFrom) {
                errno = goneError;
                return -1;
            }
            if (offset >= bytes.size())
                return 0;
            count = std::min<std::size_t>(count, bytes.size() - offset);
            for (std::uint64_t s = offset / sectorBytes; s * sectorBytes < offset + count; ++s)
                if (bad.count(s)) {
                    errno = EIO;
                    return -1;
                }
            if (shortReadLimit)
                count = std::min(count, shortReadLimit);
            std::memcpy(into, bytes.data() + offset, count);
            return ssize_t(count);
        };
    }
};

Bytes numbered(std::size_t size)
{
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i)
        b[i] = std::uint8_t(i * 7 + i / 251);
    return b;
}

struct Delivered {
    std::vector<std::uint64_t> readable, unreadable;
    Bytes bytes; // readable sectors' bytes, in order
    std::size_t unreadableCount = 0;
};

Delivered drain(ChunkReader& reader)
{
    Delivered d;
    while (const Chunk* c = reader.next()) {
        d.unreadableCount += c->unreadableCount();
        for (std::size_t i = 0; i < c->sectorCount(); ++i) {
            if (c->readable(i)) {
                d.readable.push_back(c->firstSector() + i);
                const auto s = c->sector(i);
                d.bytes.insert(d.bytes.end(), s.begin(), s.end());
            } else {
                d.unreadable.push_back(c->firstSector() + i);
            }
        }
    }
    return d;
}

TEST(ChunkReader, DeliversEverySectorInOrderInWholeChunks)
{
    FlakySource src{numbered(512 * 100 + 300), 512, {}};
    ChunkReader reader(src.reader(), 512, 100, 512 * 16); // the partial sector is left out
    const Delivered d = drain(reader);
    EXPECT_EQ(d.readable.size(), 100u);
    EXPECT_EQ(d.bytes, Bytes(src.bytes.begin(), src.bytes.begin() + 512 * 100));
    EXPECT_EQ(src.reads.size(), 7u); // six chunks of 16 and one of 4: no per-sector reads
    EXPECT_EQ(src.reads.back(), std::make_pair(std::uint64_t(96 * 512), std::size_t(4 * 512)));
}

TEST(ChunkReader, ABadSectorCostsOnlyItself)
{
    FlakySource src{numbered(512 * 64), 512, {0, 17, 18, 31, 63}};
    ChunkReader reader(src.reader(), 512, 64, 512 * 16);
    const Delivered d = drain(reader);
    EXPECT_EQ(d.unreadable, (std::vector<std::uint64_t>{0, 17, 18, 31, 63}));
    EXPECT_EQ(d.unreadableCount, 5u);
    Bytes expected;
    for (std::uint64_t s : d.readable)
        expected.insert(expected.end(), src.bytes.begin() + std::ptrdiff_t(s * 512),
                        src.bytes.begin() + std::ptrdiff_t((s + 1) * 512));
    EXPECT_EQ(d.readable.size(), 59u);
    EXPECT_EQ(d.bytes, expected);
    // Chunk 2 (sectors 32-47) had no bad sector: it was read in one piece, never sector
    // by sector.
    std::size_t readsInChunk2 = 0;
    for (auto [offset, count] : src.reads)
        if (offset >= 32 * 512 && offset < 48 * 512)
            ++readsInChunk2;
    EXPECT_EQ(readsInChunk2, 1u);
}

// A card pulled out: reading stops at once when the device is gone (ENODEV, ENXIO), and
// after a run of failures in a row when every read fails with EIO; a run of bad sectors
// shorter than that is only a bad area.
TEST(ChunkReader, ASourceThatIsGoneStopsTheReading)
{
    const struct {
        const char* name;
        std::uint64_t goneFrom;
        int goneError;
        std::set<std::uint64_t> bad;
        std::optional<std::uint64_t> stopsAt; // the first sector not delivered
    } cases[] = {
        {"no such device", 20, ENODEV, {}, 21},
        {"no such device or address", 20, ENXIO, {}, 21},
        {"every read fails", 20, EIO, {}, 28},
        {"a bad area shorter than the limit",
         ~std::uint64_t(0),
         EIO,
         {20, 21, 22, 23, 24, 25, 26},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FlakySource src{numbered(512 * 64), 512, c.bad};
        src.goneFrom = c.goneFrom;
        src.goneError = c.goneError;
        ChunkReader reader(src.reader(), 512, 64, 512 * 16, {}, /*giveUpAfter=*/8);
        const Delivered d = drain(reader);
        std::vector<std::uint64_t> first20(20);
        std::iota(first20.begin(), first20.end(), 0);
        ASSERT_GE(d.readable.size(), 20u);
        EXPECT_EQ(std::vector<std::uint64_t>(d.readable.begin(), d.readable.begin() + 20), first20);
        if (c.stopsAt) {
            EXPECT_EQ(d.readable.size(), 20u);
            ASSERT_TRUE(reader.gone());
            EXPECT_EQ(reader.gone()->sector, *c.stopsAt);
            EXPECT_EQ(reader.gone()->error, c.goneError);
            EXPECT_EQ(d.unreadable.size(), *c.stopsAt - 20);
        } else {
            EXPECT_FALSE(reader.gone());
            EXPECT_EQ(d.unreadable.size(), 7u);
            EXPECT_EQ(reader.sectorsDone(), 64u);
        }
    }
}

TEST(ChunkReader, ShortReadsAndInterruptionsAreContinued)
{
    FlakySource src{numbered(4096 * 10), 4096, {}};
    src.shortReadLimit = 1000; // not even a whole sector per call
    src.interruptions = 3;
    ChunkReader reader(src.reader(), 4096, 10, 4096 * 4);
    const Delivered d = drain(reader);
    EXPECT_EQ(d.unreadableCount, 0u);
    EXPECT_EQ(d.bytes, src.bytes);
}

TEST(ChunkReader, SourceThatEndsEarlyMarksTheMissingSectors)
{
    // The device shrank (a card pulled out): reads past its new end give nothing.
    FlakySource src{numbered(512 * 10), 512, {}};
    ChunkReader reader(src.reader(), 512, 14, 512 * 8);
    const Delivered d = drain(reader);
    EXPECT_EQ(d.readable.size(), 10u);
    EXPECT_EQ(d.unreadable, (std::vector<std::uint64_t>{10, 11, 12, 13}));
}

TEST(ChunkReader, OddSectorSizesAndChunksSmallerThanASector)
{
    FlakySource src{numbered(3 * 1000), 3, {5}};
    ChunkReader reader(src.reader(), 3, 1000, 2); // a chunk is at least one sector
    const Delivered d = drain(reader);
    EXPECT_EQ(d.readable.size(), 999u);
    EXPECT_EQ(d.unreadable, std::vector<std::uint64_t>{5});
    ChunkReader none(src.reader(), 512, 0);
    EXPECT_EQ(none.next(), nullptr);
}

// Read ahead on a thread, or made of the blocks the JPEG rule shares (with and without
// reading ahead), the chunks are the same: the same sectors, the same bad ones, the same
// end where the source is given up on; and each sector is read from the source as often.
TEST(ChunkReader, ReadingAheadOnAThreadOrFromSharedBlocksDeliversTheSame)
{
    const struct {
        const char* name;
        std::set<std::uint64_t> bad;
        std::uint64_t goneFrom = ~std::uint64_t(0);
        int goneError = ENODEV;
        std::size_t shortReadLimit = 0;
        std::uint64_t sectors = 64; // asked for; the source holds 64
    } cases[] = {
        {"whole", {}},
        {"bad sectors", {0, 17, 18, 31, 63}},
        {"gone", {}, 20},
        {"every read fails", {}, 20, EIO},
        {"short reads", {}, ~std::uint64_t(0), 0, 1000},
        {"ends early", {}, ~std::uint64_t(0), 0, 0, 70},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        constexpr int kWays = 4; // on its own, reading ahead; from shared blocks, reading ahead
        Delivered d[kWays];
        std::optional<SourceGone> gone[kWays];
        std::uint64_t done[kWays], tried[kWays];
        for (int way = 0; way < kWays; ++way) {
            FlakySource src{numbered(512 * 64), 512, c.bad};
            src.goneFrom = c.goneFrom;
            src.goneError = c.goneError;
            src.shortReadLimit = c.shortReadLimit;
            const auto reads = std::make_shared<SourceReads>(src.reader(), 512, ReadAt{}, 8);
            ReadAtSectors card(reads, c.sectors);
            ChunkReader reader =
                way < 2
                    ? ChunkReader(reads, c.sectors, 512 * 16)
                    : ChunkReader(reads,
                                  std::make_shared<jpeg::SharedBlocks>(card, std::size_t(1) << 20),
                                  512 * 16);
            if (way % 2)
                reader.readAhead();
            d[way] = drain(reader);
            gone[way] = reader.gone();
            done[way] = reader.sectorsDone();
            tried[way] = reads->sectorsTried();
        }
        for (int way = 1; way < kWays; ++way) {
            SCOPED_TRACE(way);
            EXPECT_EQ(d[way].readable, d[0].readable);
            EXPECT_EQ(d[way].unreadable, d[0].unreadable);
            EXPECT_EQ(d[way].bytes, d[0].bytes);
            ASSERT_EQ(gone[way].has_value(), gone[0].has_value());
            if (gone[0]) {
                EXPECT_EQ(gone[way]->sector, gone[0]->sector);
                EXPECT_EQ(gone[way]->error, gone[0]->error);
            }
            EXPECT_EQ(done[way], done[0]);
            EXPECT_EQ(tried[way], tried[0]);
        }
        EXPECT_EQ(tried[0], gone[0] ? gone[0]->sector : c.sectors);
    }
}

// While a chunk is in hand, gone() and sectorsDone() speak of the chunks handed out, not
// of the one being read ahead.
TEST(ChunkReader, ReadingAheadSaysOnlyWhatWasHandedOut)
{
    FlakySource src{numbered(512 * 64), 512, {}};
    src.goneFrom = 20;
    ChunkReader reader(src.reader(), 512, 64, 512 * 16);
    reader.readAhead();
    ASSERT_NE(reader.next(), nullptr); // sectors 0-15; 16-20 are being read
    EXPECT_EQ(reader.sectorsDone(), 16u);
    EXPECT_FALSE(reader.gone());
    ASSERT_NE(reader.next(), nullptr);
    EXPECT_EQ(reader.sectorsDone(), 21u);
    EXPECT_TRUE(reader.gone());
    EXPECT_EQ(reader.next(), nullptr);
}

// The JPEG rule reads ahead of the pass through the same SourceReads: failures either
// reader meets count towards one give-up, and once the source is given up on no reader
// touches it again.
TEST(SourceReads, OneGiveUpForEveryReaderOfTheRun)
{
    FlakySource src{numbered(512 * 64), 512, {}};
    src.goneFrom = 20;
    src.goneError = EIO;
    const auto reads = std::make_shared<SourceReads>(src.reader(), 512, ReadAt{}, 8);
    ReadAtSectors ahead(reads, 64);
    std::vector<std::uint8_t> into(512 * 16);
    std::vector<bool> unreadable(16, false);
    EXPECT_EQ(ahead.readMarking(40, 16, into.data(), unreadable), 8u); // 8 fail: given up
    EXPECT_TRUE(ahead.gone());
    EXPECT_EQ(std::count(unreadable.begin(), unreadable.end(), true), 8);
    const std::size_t readsWhenGivenUp = src.reads.size();

    ChunkReader pass(reads, 64, 512 * 16);
    EXPECT_EQ(pass.next(), nullptr); // the pass stops at once, where it stands
    ASSERT_TRUE(pass.gone());
    EXPECT_EQ(pass.gone()->sector, 0u);
    EXPECT_EQ(ahead.read(0, 4, into.data()), 0u);
    EXPECT_EQ(src.reads.size(), readsWhenGivenUp);
}

} // namespace
} // namespace velo::cli
