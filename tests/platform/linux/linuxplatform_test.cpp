#include "fakesystem.h"

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

    TempDir dir;
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

std::string firstLineOf(const std::string& command)
{
    char line[256] = {};
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return {};
    const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
    const bool ok = ::pclose(pipe) == 0 && read;
    std::string text = ok ? line : "";
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

// A card image attached with "losetup -r" is a drive like any other and reads back as the
// image. Needs root and a working losetup.
TEST(LinuxPlatform, AttachedCardImageIsAReadableDrive)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "attaching a loop device needs root";
    TempDir dir;
    std::string image(1 << 20, '\0');
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<char>(i * 131 + i / 512);
    writeFile(dir / "card.img", image);
    const std::string loop =
        firstLineOf("losetup -r -f --show " + (dir / "card.img").string() + " 2>/dev/null");
    if (loop.empty())
        GTEST_SKIP() << "losetup does not work here";
    struct Detach {
        std::string loop;
        ~Detach() { std::system(("losetup -d " + loop).c_str()); }
    } detach{loop};

    LinuxPlatform platform;
    const LinuxDrive* found = nullptr;
    for (const auto& drive : platform.table())
        found = drive.devicePath == loop ? &drive : found;
    if (!found && platform.drive('Z'))
        GTEST_SKIP() << "this machine has more drives than letters";
    ASSERT_TRUE(found) << loop;
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

} // namespace
} // namespace velo
