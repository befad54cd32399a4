#include "tests/support/fakesystem.h"
#include "tests/support/mounts.h"

#include <cctype>
#include <cstdio>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velo
{
namespace
{

using namespace velo::testing;

TEST(LinuxPlatform, FoldersOfThisMachine)
{
    LinuxPlatform platform;
    EXPECT_EQ(platform.platformIdentifier(), kPlatformNt);
    EXPECT_EQ(platform.pathSeparator(), '/');
    const std::string folder = platform.programFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), '/');
    EXPECT_TRUE(std::filesystem::exists(folder + "/" + program_invocation_short_name)) << folder;
    ASSERT_TRUE(platform.drive('C'));
    EXPECT_EQ(platform.drive('C')->mountPoint, "/");

    ScratchDir dir;
    const mode_t old = ::umask(027);
    const bool made = platform.createFolder((dir / "recovered").string());
    ::umask(old);
    ASSERT_TRUE(made);
    struct stat info {
    };
    ASSERT_EQ(::stat((dir / "recovered").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0750u);
    EXPECT_FALSE(platform.createFolder((dir / "recovered").string())); // already there
    EXPECT_FALSE(platform.createFolder((dir / "a/b").string()));       // no parent
}

// A card image attached with "losetup -r" is a drive like any other and reads back as the
// image. Needs root and a working losetup.
TEST(LinuxPlatform, AttachedCardImageIsAReadableDrive)
{
    ScratchDir dir;
    std::string image(1 << 20, '\0');
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<char>(i * 131 + i / 512);
    writeText(dir / "card.img", image);
    const ReadOnlyLoopDevice attached(dir / "card.img");
    const std::string& loop = attached.device();
    if (loop.empty())
        GTEST_SKIP() << attached.why();

    LinuxPlatform platform;
    const std::string letter = letterOf(platform, loop);
    if (letter.empty() && platform.drive('Z'))
        GTEST_SKIP() << "this machine has more drives than letters";
    ASSERT_FALSE(letter.empty()) << loop;
    const LinuxDrive* found = platform.drive(letter[0]);
    EXPECT_EQ(found->type, DriveType::Fixed);
    EXPECT_TRUE(found->mountPoint.empty());

    const auto space = platform.diskFreeSpace(found->letter + ":/");
    ASSERT_TRUE(space);
    EXPECT_EQ(space->totalClusters * space->bytesPerSector, std::int64_t(image.size()));

    auto device = platform.openDevice("\\\\.\\" + found->letter + ":");
    ASSERT_TRUE(device);
    std::vector<std::uint8_t> buffer(65536);
    std::string readBack;
    std::uint32_t got = 0;
    while (device->read(buffer.data(), std::uint32_t(buffer.size()), got) && got > 0)
        readBack.append(buffer.begin(), buffer.begin() + got);
    EXPECT_TRUE(readBack == image) << "read " << readBack.size() << " bytes";
}

// A card image mounted through a loop device is a drive; a folder on its file system (made
// or not yet) lies on it, a folder elsewhere does not. Needs root and a working mount.
TEST(LinuxPlatform, KnowsWhichFoldersLieOnADrive)
{
    const LoopMount card(std::uint64_t(4) << 20, "ext2");
    if (!card.ok())
        GTEST_SKIP() << card.why();
    LinuxPlatform platform;
    std::string letter;
    for (const LinuxDrive& d : platform.table())
        if (d.mountPoint == card.mountPoint().string())
            letter = d.letter;
    if (letter.empty() && platform.drive('Z'))
        GTEST_SKIP() << "this machine has more drives than letters";
    ASSERT_FALSE(letter.empty()) << card.mountPoint();
    ScratchDir elsewhere;
    const std::string mounted = card.mountPoint().string();
    std::filesystem::create_directories(card.mountPoint() / "DCIM");

    const struct {
        std::string folder;
        std::string letter;
        bool liesOn;
    } cases[] = {
        {mounted, letter, true},
        {mounted + "/", letter, true},
        {mounted + "/DCIM/", letter, true},
        {mounted + "/not/made/yet/", letter, true},
        {mounted + "/DCIM/", std::string(1, char(std::tolower(letter[0]))), true},
        {elsewhere.path.string() + "/", letter, false},
        {mounted + "/DCIM/", "C", false},
        {mounted + "/DCIM/", "", false},
        {mounted + "/DCIM/", letter + letter, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform.folderLiesOnDrive(c.folder, c.letter), c.liesOn)
            << c.folder << " on " << c.letter;
}

} // namespace
} // namespace velo
