// velo-carve --rule jpeg run as a program, on a card of photos made with libjpeg.

#include "cli/carverun.h"
#include "cli/readatsectors.h"
#include "tests/cli/support.h"
#include "tests/scan/jpeg/testphotos.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

namespace velo::cli
{
namespace
{

using namespace velo::cli::testing;
using ::testing::HasSubstr;
namespace photos = velo::jpeg::testing;

TEST(VeloCarveJpegRule, PutsAPhotoInTwoPiecesBackAndSaysWhatItDid)
{
    constexpr std::size_t kCluster = 4096;
    const Bytes whole = photos::makePhoto({.seed = 61});
    const Bytes split = photos::makePhoto({.width = 320, .height = 240, .seed = 62});
    auto add = [](Bytes& card, const Bytes& b) {
        card.insert(card.end(), b.begin(), b.end());
        card.resize((card.size() + kCluster - 1) / kCluster * kCluster, 0);
    };
    Bytes card;
    add(card, photos::filler(photos::Filler::Random, kCluster, 1));
    add(card, whole); // sector 8
    add(card, Bytes{0xFF, 0xD8, 0xFF, 0x00, 0x17});
    const std::uint64_t notJpeg = card.size() / 512 - 8;
    add(card, Bytes(split.begin(), split.begin() + 2 * kCluster));
    const std::uint64_t first = card.size() / 512 - 16;
    add(card, photos::filler(photos::Filler::Text, 3 * kCluster, 2));
    const std::uint64_t second = card.size() / 512;
    add(card, Bytes(split.begin() + 2 * kCluster, split.end()));

    ScratchDir dir;
    writeFile(dir / "card.img", card);
    const RunResult r = runVeloCarve({"--rule", "jpeg", "--cluster-size", "4096", "--report", "-",
                                      (dir / "card.img").string(), (dir / "out").string()});
    EXPECT_EQ(r.exitStatus, 0) << r.errorOutput;
    EXPECT_EQ(fileNames(dir / "out"),
              (std::vector<std::string>{"DD001.JPG", "DD002.JPG", "index.html"}));
    EXPECT_EQ(readFile(dir / "out/DD001.JPG"), whole);
    EXPECT_EQ(readFile(dir / "out/DD002.JPG"), split);
    const std::uint64_t secondLast = second + (split.size() - 2 * kCluster - 1) / 512;
    EXPECT_EQ(
        lines(r.standardOutput),
        (std::vector<std::string>{
            "name,first_sector,length,end,output,verdict,pieces",
            "DD001.JPG,8," + std::to_string(whole.size()) + ",end-marker,written,complete,8-" +
                std::to_string(8 + (whole.size() - 1) / 512),
            "," + std::to_string(notJpeg) + ",0,bad-data,not-written,not-jpeg," +
                std::to_string(notJpeg) + "-" + std::to_string(notJpeg),
            "DD002.JPG," + std::to_string(first) + "," + std::to_string(split.size()) +
                ",end-marker,written,reassembled," + std::to_string(first) + "-" +
                std::to_string(first + 15) + " " + std::to_string(second) + "-" +
                std::to_string(secondLast),
        }));
    // The summary and the contact sheet count the same verdicts; the sheet shows both pieces.
    EXPECT_THAT(
        r.errorOutput,
        HasSubstr("By verdict: 1 complete, 1 reassembled, 0 uncertain, 0 damaged, 0 truncated."));
    const std::string page = readText(dir / "out/index.html");
    EXPECT_THAT(
        page,
        HasSubstr("2 files: 1 complete, 1 reassembled, 0 uncertain, 0 damaged, 0 truncated; 0 "
                  "broken; 1 start was no JPEG."));
    EXPECT_THAT(page, HasSubstr("<dt>pieces</dt><dd>" + std::to_string(first) + "\u2013" +
                                std::to_string(first + 15) + ", " + std::to_string(second) +
                                "\u2013" + std::to_string(secondLast) + "</dd>"));

    const RunResult odd = runVeloCarve({"--rule", "jpeg", "--cluster-size", "1000",
                                        (dir / "card.img").string(), (dir / "o2").string()});
    EXPECT_EQ(odd.exitStatus, 2);
    EXPECT_NE(odd.errorOutput.find("not a multiple"), std::string::npos) << odd.errorOutput;
    EXPECT_FALSE(fs::exists(dir / "o2"));
}

// The pass, the rule and the walks made ahead read the card through the same blocks: a
// whole carve reads each sector from the source once, whatever walks ahead, a bad sector
// included, and carves the same files as a rule that walks every file itself.
TEST(VeloCarveJpegRule, ACarveReadsEachSectorOnce)
{
    constexpr std::size_t kCluster = 4096;
    Bytes card;
    auto add = [&card](const Bytes& b) {
        card.insert(card.end(), b.begin(), b.end());
        card.resize((card.size() + kCluster - 1) / kCluster * kCluster, 0);
    };
    const Bytes split = photos::makePhoto({.width = 320, .height = 240, .seed = 63});
    for (std::uint32_t i = 0; i < 6; ++i)
        add(photos::makePhoto({.width = 320, .height = 240, .seed = 64 + i}));
    const std::uint64_t splitAt = card.size() / 512;
    add(Bytes(split.begin(), split.begin() + 2 * kCluster));
    add(photos::filler(photos::Filler::Text, 3 * kCluster, 2));
    add(Bytes(split.begin() + 2 * kCluster, split.end()));
    const std::uint64_t bad = card.size() / 512 + 5;
    add(photos::makePhoto({.width = 320, .height = 240, .seed = 70}));
    add(photos::filler(photos::Filler::Random, 3 * kCluster, 3));
    const std::uint64_t sectors = card.size() / 512;

    std::vector<std::vector<CarvedFile>> carved;
    for (unsigned threads : {0u, 1u, 3u}) {
        SCOPED_TRACE(std::to_string(threads) + " threads ahead");
        const ReadAt readAt = [&](std::uint8_t* into, std::size_t count, std::uint64_t offset) {
            if (offset / 512 <= bad && bad < (offset + count + 511) / 512) {
                errno = EIO;
                return ssize_t(-1);
            }
            std::memcpy(into, card.data() + offset, count);
            return ssize_t(count);
        };
        const auto reads = std::make_shared<SourceReads>(readAt, 512);
        ReadAtSectors sectorsOfCard(reads, sectors);
        const auto blocks = std::make_shared<jpeg::SharedBlocks>(sectorsOfCard, 1 << 20);
        ChunkReader reader(reads, blocks, 16 << 10); // chunks smaller than the files
        reader.readAhead();
        std::vector<CarvedFile> files;
        SinkHooks hooks;
        hooks.fileClosed = [&](const CarvedFile& f) { files.push_back(f); };
        FileSink sink(numberedFilesIn(nullptr), IfNameTaken::Fail, hooks, /*dryRun=*/true);
        const std::atomic<bool> stop = false;
        const RuleChoice rule{.rule = Rule::Jpeg,
                              .blocks = blocks.get(),
                              .jpeg = {.clusterBytes = kCluster, .lookAheadThreads = threads}};
        const CarveTotals totals = runCarve(reader, sink, stop, {}, rule);
        EXPECT_EQ(totals.unreadableSectors, 1u);
        EXPECT_EQ(reads->sectorsTried(), sectors);
        carved.push_back(files);
    }
    ASSERT_EQ(carved[0].size(), 8u);
    EXPECT_EQ(carved[0][6].firstSector, splitAt);
    EXPECT_EQ(carved[0][6].verdict->verdict, Verdict::Reassembled);
    for (std::size_t i = 1; i < carved.size(); ++i) {
        ASSERT_EQ(carved[i].size(), carved[0].size());
        for (std::size_t f = 0; f < carved[0].size(); ++f) {
            EXPECT_EQ(carved[i][f].firstSector, carved[0][f].firstSector) << f;
            EXPECT_EQ(carved[i][f].length, carved[0][f].length) << f;
            EXPECT_EQ(carved[i][f].verdict->pieces, carved[0][f].verdict->pieces) << f;
        }
    }
}

} // namespace
} // namespace velo::cli
