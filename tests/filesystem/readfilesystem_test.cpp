// The file system a card still holds, read as velo-carve reads it: real FAT and exFAT
// images made with mkfs and mtools, photos copied and deleted, and the same images
// damaged on purpose.

#include "filesystem/readfilesystem.h"
#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace velo::filesystem
{
namespace
{

using velo::testing::Bytes;
using velo::testing::readFile;
using velo::testing::run;
using velo::testing::ScratchDir;
using velo::testing::writeFile;

// The source as velo-carve hands it over: bytes by offset, a whole image in memory.
FileSystemRead readImage(const Bytes& image)
{
    const ReadSourceBytes read = [&](std::uint64_t offset, std::span<std::uint8_t> into) {
        if (offset >= image.size())
            return false;
        const std::size_t n = std::min<std::size_t>(into.size(), image.size() - offset);
        std::memcpy(into.data(), image.data() + offset, n);
        return true;
    };
    return readFileSystem(read, image.size(), 512);
}

Bytes pattern(std::size_t size, std::uint8_t seed)
{
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i)
        b[i] = std::uint8_t(seed + i * 7 + i / 251);
    return b;
}

bool haveTools()
{
    return run("command -v mkfs.fat && command -v mcopy && command -v mdel") == 0;
}

// An MBR with one FAT32 (LBA) partition from `firstSector` on, in front of a volume made
// with mkfs.fat --offset.
void writePartitionTable(Bytes& image, std::uint32_t firstSector, std::uint32_t sectors)
{
    std::uint8_t* entry = image.data() + 446;
    std::memset(image.data() + 446, 0, 64);
    entry[4] = 0x0C;
    for (int i = 0; i < 4; ++i) {
        entry[8 + i] = std::uint8_t(firstSector >> (8 * i));
        entry[12 + i] = std::uint8_t(sectors >> (8 * i));
    }
    image[510] = 0x55;
    image[511] = 0xAA;
}

struct CardCase {
    const char* label;
    const char* mkfs;            // %s is the image
    std::uint32_t offsetSectors; // where the volume starts (a partition table before it)
    const char* kind;
    std::uint64_t clusterBytes;
    unsigned kib; // the image's size (FAT32 needs 65525 clusters or more)
};

class CardKinds : public ::testing::TestWithParam<CardCase>
{
};

// Two photos deleted, one kept: the deleted ones are listed with their names (a short
// name without its first letter), sizes, times and the bytes where their data starts;
// the kept one is not.
TEST_P(CardKinds, ListsDeletedFilesWithNameSizeTimeAndPlace)
{
    if (!haveTools())
        GTEST_SKIP() << "dosfstools and mtools are needed to make the cards";
    const CardCase& c = GetParam();
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    ScratchDir work;
    const std::string image = (work / "card.img").string();
    ASSERT_EQ(run(std::string("mkfs.fat ") + c.mkfs + " -C " + image + " " + std::to_string(c.kib)),
              0);
    const std::string mtools = "MTOOLS_SKIP_CHECK=1 TZ=UTC ";
    const std::string at = c.offsetSectors ? "@@" + std::to_string(c.offsetSectors * 512) : "";
    const Bytes first = pattern(70000, 1), second = pattern(9000, 2), kept = pattern(5000, 3);
    writeFile(work / "IMG_0001.JPG", first);
    writeFile(work / "Holiday at the sea.jpeg", second);
    writeFile(work / "KEEP.JPG", kept);
    ASSERT_EQ(run("touch -d '2026-06-02 14:31:06 UTC' " + (work / "IMG_0001.JPG").string()), 0);
    ASSERT_EQ(run(mtools + "mmd -i " + image + at + " ::DCIM"), 0);
    for (const char* name : {"IMG_0001.JPG", "Holiday at the sea.jpeg", "KEEP.JPG"})
        ASSERT_EQ(run(mtools + "mcopy -m -i " + image + at + " '" + (work / name).string() +
                      "' '::DCIM/" + name + "'"),
                  0);
    ASSERT_EQ(run(mtools + "mdel -i " + image + at +
                  " ::DCIM/IMG_0001.JPG '::DCIM/Holiday at the sea.jpeg'"),
              0);

    Bytes bytes = readFile(image);
    if (c.offsetSectors)
        writePartitionTable(bytes, c.offsetSectors,
                            std::uint32_t(bytes.size() / 512) - c.offsetSectors);
    const FileSystemRead found = readImage(bytes);
    ASSERT_TRUE(found.map) << found.said;
    const VolumeGeometry& g = found.map->geometry();
    EXPECT_EQ(g.kind, c.kind);
    EXPECT_EQ(g.volumeByte, std::uint64_t(c.offsetSectors) * 512);
    EXPECT_EQ(g.clusterBytes, c.clusterBytes);

    std::vector<std::string> names;
    for (const DeletedFile& f : found.map->deleted())
        names.push_back(f.folder + f.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names,
              (std::vector<std::string>{"DCIM/Holiday at the sea.jpeg", "DCIM/_MG_0001.JPG"}));
    for (const auto& [name, content] :
         {std::pair{"_MG_0001.JPG", first}, {"Holiday at the sea.jpeg", second}}) {
        const auto f = std::find_if(found.map->deleted().begin(), found.map->deleted().end(),
                                    [&](const DeletedFile& d) { return d.name == name; });
        ASSERT_NE(f, found.map->deleted().end()) << name;
        EXPECT_EQ(f->sizeBytes, content.size()) << name;
        // The first cluster on the card holds the file's first bytes, and the map finds
        // the file by where it starts.
        ASSERT_LE(f->firstByte + g.clusterBytes, bytes.size());
        EXPECT_TRUE(std::equal(content.begin(),
                               content.begin() + std::ptrdiff_t(std::min<std::uint64_t>(
                                                     g.clusterBytes, content.size())),
                               bytes.begin() + std::ptrdiff_t(f->firstByte)))
            << name;
        EXPECT_EQ(found.map->deletedAt(f->firstByte), &*f);
        EXPECT_EQ((f->firstByte - g.firstClusterByte) % g.clusterBytes, 0u) << name;
    }
    const auto photo = std::find_if(found.map->deleted().begin(), found.map->deleted().end(),
                                    [](const DeletedFile& d) { return d.name == "_MG_0001.JPG"; });
    // FAT keeps two-second steps: 14:31:06.
    EXPECT_EQ(photo->modified, 1780410666);
}

INSTANTIATE_TEST_SUITE_P(Cards, CardKinds,
                         ::testing::Values(CardCase{"Fat12", "-F 12 -s 16", 0, "FAT12", 8192,
                                                    16384},
                                           CardCase{"Fat16", "-F 16 -s 2", 0, "FAT16", 1024, 16384},
                                           CardCase{"Fat32", "-F 32 -s 1", 0, "FAT32", 512, 40960},
                                           CardCase{"Fat32InAPartition", "-F 32 -s 1 --offset 2048",
                                                    2048, "FAT32", 512, 40960}),
                         [](const auto& info) { return std::string(info.param.label); });

// exFAT: no tool here writes files into it, so only its geometry is checked.
TEST(ExfatCard, GeometryFromTheBootSector)
{
    if (run("command -v mkfs.exfat") != 0)
        GTEST_SKIP() << "exfatprogs is needed to make the card";
    ScratchDir work;
    const std::string image = (work / "card.img").string();
    ASSERT_EQ(run("truncate -s 16M " + image + " && mkfs.exfat -c 4096 " + image), 0);
    const FileSystemRead found = readImage(readFile(image));
    ASSERT_TRUE(found.map) << found.said;
    EXPECT_EQ(found.map->geometry().kind, "exFAT");
    EXPECT_EQ(found.map->geometry().clusterBytes, 4096u);
    EXPECT_TRUE(found.map->deleted().empty());
    EXPECT_LE(found.map->geometry().endByte(), 16u << 20);
}

// The directory entry with this 8.3 name (eleven bytes, padded) and the folder attribute;
// its offset in the image.
std::size_t folderEntry(const Bytes& image, const char* name83)
{
    for (std::size_t at = 0; at + 32 <= image.size(); at += 32)
        if (std::memcmp(image.data() + at, name83, 11) == 0 && (image[at + 11] & 0x10))
            return at;
    return 0;
}

void setFirstCluster(Bytes& image, std::size_t entry, std::uint32_t cluster)
{
    image[entry + 20] = std::uint8_t(cluster >> 16);
    image[entry + 21] = std::uint8_t(cluster >> 24);
    image[entry + 26] = std::uint8_t(cluster);
    image[entry + 27] = std::uint8_t(cluster >> 8);
}

std::uint32_t firstCluster(const Bytes& image, std::size_t entry)
{
    return std::uint32_t(image[entry + 26]) | std::uint32_t(image[entry + 27]) << 8 |
           std::uint32_t(image[entry + 20]) << 16 | std::uint32_t(image[entry + 21]) << 24;
}

struct DamageCase {
    const char* label;
    void (*damage)(Bytes& image);
    bool failReads;       // every read of the source fails
    bool stillListsPhoto; // the deleted photo in DCIM is still found
};

class DamagedCards : public ::testing::TestWithParam<DamageCase>
{
};

// Whatever the card holds, reading it ends, within the limits, without a crash; what is
// still sound is still read.
TEST_P(DamagedCards, EndWithWhatCanBeRead)
{
    if (!haveTools())
        GTEST_SKIP() << "dosfstools and mtools are needed to make the cards";
    const DamageCase& c = GetParam();
    ScratchDir work;
    const std::string image = (work / "card.img").string();
    ASSERT_EQ(run("mkfs.fat -F 32 -s 1 -C " + image + " 40960"), 0);
    writeFile(work / "P.JPG", pattern(3000, 4));
    const std::string mtools = "MTOOLS_SKIP_CHECK=1 ";
    ASSERT_EQ(run(mtools + "mmd -i " + image + " ::DCIM ::DCIM/LOOP"), 0);
    ASSERT_EQ(run(mtools + "mcopy -i " + image + " " + (work / "P.JPG").string() + " ::DCIM/P.JPG"),
              0);
    ASSERT_EQ(run(mtools + "mdel -i " + image + " ::DCIM/P.JPG"), 0);
    Bytes bytes = readFile(image);
    c.damage(bytes);

    FileSystemRead found;
    if (c.failReads) {
        const ReadSourceBytes fails = [](std::uint64_t, std::span<std::uint8_t>) { return false; };
        found = readFileSystem(fails, bytes.size(), 512);
    } else {
        found = readImage(bytes);
    }
    EXPECT_FALSE(found.said.empty());
    const bool listed =
        found.map && std::any_of(found.map->deleted().begin(), found.map->deleted().end(),
                                 [](const DeletedFile& f) { return f.name == "_.JPG"; });
    EXPECT_EQ(listed, c.stillListsPhoto) << found.said;
    if (found.map) {
        EXPECT_LE(found.map->deleted().size(), kMaxListed);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Damage, DamagedCards,
    ::testing::Values(DamageCase{"Undamaged", [](Bytes&) {}, false, true},
                      DamageCase{"EveryReadFails", [](Bytes&) {}, true, false},
                      DamageCase{"BootSectorOfRandomBytes",
                                 [](Bytes& b) {
                                     std::srand(7);
                                     for (std::size_t i = 0; i < 510; ++i)
                                         b[i] = std::uint8_t(std::rand());
                                 },
                                 false, false},
                      DamageCase{"FolderPastTheCard",
                                 [](Bytes& b) {
                                     setFirstCluster(b, folderEntry(b, "DCIM       "), 0x0FFFFF00);
                                 },
                                 false, false},
                      DamageCase{"FolderThatHoldsItself",
                                 [](Bytes& b) {
                                     const std::uint32_t dcim =
                                         firstCluster(b, folderEntry(b, "DCIM       "));
                                     setFirstCluster(b, folderEntry(b, "LOOP       "), dcim);
                                 },
                                 false, true},
                      DamageCase{"ChainThatLoopsInTheFat",
                                 [](Bytes& b) {
                                     // Every FAT entry of both copies points at cluster 2, the
                                     // root: each folder is read as its first cluster, over and
                                     // over.
                                     const std::size_t fat = 512 * (b[14] | b[15] << 8);
                                     const std::size_t fatBytes =
                                         512 * std::size_t(b[36] | b[37] << 8 | b[38] << 16);
                                     for (std::size_t i = 8; i < 2 * fatBytes; i += 4) {
                                         b[fat + i] = 2;
                                         b[fat + i + 1] = b[fat + i + 2] = b[fat + i + 3] = 0;
                                     }
                                 },
                                 false, true}),
    [](const auto& info) { return std::string(info.param.label); });

} // namespace
} // namespace velo::filesystem
