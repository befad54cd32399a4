#include "tests/support/fakesystem.h"

#include "platform/linux/linuxdevicehandle.h"
#include "platform/linux/linuxoutputfile.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velo
{
namespace
{

using linux_backend::LinuxDeviceHandle;
using linux_backend::LinuxOutputFile;
using namespace velo::testing;

// Bytes that differ from sector to sector, so a read from the wrong offset shows.
std::string pattern(std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i / 512) * 7 + i % 251);
    return bytes;
}

std::span<const std::uint8_t> bytesOf(const std::string& text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(DeviceRead, ReadsADriveFromItsStartAndOnlyItsOwnNameOpensIt)
{
    FakeSystem sys;
    sys.add({.name = "sdb", .bus = kUsb}).mount("0:50", "/mnt/nas", "nfs", "nas:/");
    const std::string image = pattern(2048);
    writeText(sys.dev() / "sdb", image);
    auto platform = sys.platform();

    auto device = platform.openDevice("\\\\.\\d:");
    ASSERT_TRUE(device);
    std::vector<std::uint8_t> buffer(1024);
    std::uint32_t got = 0;
    ASSERT_TRUE(device->read(buffer.data(), 512, got));
    ASSERT_TRUE(device->read(buffer.data(), 1024, got));
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + got), image.substr(512, 1024));
    ASSERT_TRUE(device->read(buffer.data(), 1024, got)); // runs past the end: short
    EXPECT_EQ(got, 512u);
    ASSERT_TRUE(device->read(buffer.data(), 512, got));
    EXPECT_EQ(got, 0u);
    std::uint32_t returned = 9;
    EXPECT_FALSE(device->control(1, {}, buffer, returned, buffer));

    for (const char* name :
         {"\\\\.\\VWIN32", "\\\\.\\D", "\\\\.\\D:\\", "D:", "//./D:", "\\\\.\\Q:", "\\\\.\\E:"})
        EXPECT_FALSE(platform.openDevice(name)) << name; // E: is the network share
}

TEST(DeviceRead, TheDeviceIsNeverOpenedForWriting)
{
    FakeSystem sys;
    sys.add({.name = "sdb"});
    auto platform = sys.platform();
    auto device = platform.openDevice("\\\\.\\D:");
    ASSERT_TRUE(device);
    EXPECT_EQ(descriptorsOn(sys.dev() / "sdb"), (std::vector<OpenDescriptor>{{O_RDONLY, true}}));
}

// A bad sector in the middle: its read fails, and the next read still comes from just
// after it. Interruptions and piecemeal answers on the way do not show.
TEST(DeviceRead, AFailedReadStillMovesOnByTheFullCount)
{
    ScratchDir dir;
    const std::string image = pattern(4096);
    writeText(dir / "disk", image);
    // Sector 2 (bytes 1024..1535) is unreadable; every other call is interrupted, and
    // no call hands back more than 100 bytes.
    int calls = 0;
    const int fd = ::open((dir / "disk").c_str(), O_RDONLY);
    LinuxDeviceHandle device(
        fd, [&calls, fd](std::uint8_t* into, size_t count, std::uint64_t at) -> ssize_t {
            errno = ++calls % 2 ? EINTR : EIO;
            if (calls % 2 || (at >= 1024 && at < 1536))
                return -1;
            size_t limit = count < 100 ? count : 100;
            if (at < 1024 && limit > size_t(1024 - at))
                limit = size_t(1024 - at);
            return ::pread(fd, into, limit, off_t(at));
        });
    std::vector<std::uint8_t> buffer(1024);
    std::uint32_t got = 0;
    ASSERT_TRUE(device.read(buffer.data(), 1000, got));
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + got), image.substr(0, 1000));
    EXPECT_FALSE(device.read(buffer.data(), 536, got)); // 1000..1535: fails at 1024
    EXPECT_EQ(got, 24u);
    ASSERT_TRUE(device.read(buffer.data(), 512, got));
    EXPECT_EQ(got, 512u);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + got), image.substr(1536, 512));

    // A descriptor on which every read fails (EISDIR) still advances.
    LinuxDeviceHandle broken(::open(dir.path.c_str(), O_RDONLY | O_DIRECTORY));
    EXPECT_FALSE(broken.read(buffer.data(), 512, got));
    EXPECT_FALSE(broken.read(buffer.data(), 300, got));
    EXPECT_EQ(broken.position(), 812);
}

TEST(OutputFile, ReplacesALongerFileAndClosesOnce)
{
    ScratchDir dir;
    writeText(dir / "a.jpg", std::string(10000, 'x'));
    LinuxPlatform platform;
    auto folder = platform.openOutputFolder(dir.path.string());
    ASSERT_TRUE(folder);
    CreateFailure why = CreateFailure::Other;
    auto file = folder->createFile("a.jpg", IfNameTaken::Replace, why);
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->write(bytesOf("\xff\xd8")));
    file->close();
    file->close();
    EXPECT_FALSE(file->write(bytesOf("late")));
    EXPECT_EQ(readText(dir / "a.jpg"), "\xff\xd8");

    file = folder->createFile("b.jpg", IfNameTaken::Fail, why);
    ASSERT_TRUE(file->write(bytesOf("never closed")));
    file.reset();
    EXPECT_EQ(readText(dir / "b.jpg"), "never closed");

    EXPECT_FALSE(platform.openOutputFolder((dir / "missing").string()));
    EXPECT_FALSE(platform.openOutputFolder((dir / "b.jpg").string()));
    EXPECT_FALSE(folder->createFile("../c.jpg", IfNameTaken::Replace, why));
}

// A link planted under an output name, to a file of the user's or to nowhere, is
// replaced when the name is to be replaced and refused otherwise; what it points at is
// never written, nor anything created where a dangling link points.
TEST(OutputFile, ALinkUnderTheNameIsNeverWrittenThrough)
{
    ScratchDir dir;
    ::mkdir((dir / "out").c_str(), 0700);
    writeText(dir / "victim", "precious");
    const struct {
        const char* name;
        std::function<void(const std::string&)> plant;
    } links[] = {
        {"symlink",
         [&](const std::string& at) { ::symlink((dir / "victim").c_str(), at.c_str()); }},
        {"hard link", [&](const std::string& at) { ::link((dir / "victim").c_str(), at.c_str()); }},
        {"dangling",
         [&](const std::string& at) { ::symlink((dir / "nowhere").c_str(), at.c_str()); }},
    };
    LinuxPlatform platform;
    auto folder = platform.openOutputFolder((dir / "out").string());
    ASSERT_TRUE(folder);
    for (const auto& l : links) {
        SCOPED_TRACE(l.name);
        const std::string at = (dir / "out" / "DD001.JPG").string();
        l.plant(at);
        CreateFailure why = CreateFailure::None;
        EXPECT_FALSE(folder->createFile("DD001.JPG", IfNameTaken::Fail, why));
        EXPECT_EQ(why, CreateFailure::NameTaken);
        auto file = folder->createFile("DD001.JPG", IfNameTaken::Replace, why);
        ASSERT_TRUE(file);
        EXPECT_TRUE(file->write(bytesOf("\xff\xd8\xff")));
        file->close();
        struct stat st {
        };
        ASSERT_EQ(::lstat(at.c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_nlink, 1u);
        EXPECT_EQ(readText(at), "\xff\xd8\xff");
        EXPECT_EQ(readText(dir / "victim"), "precious");
        EXPECT_FALSE(std::filesystem::exists(dir / "nowhere"));
        ::unlink(at.c_str());
    }
}

TEST(OutputFile, SmallPiecesAreGatheredAndLargeOnesWrittenWhereTheyLie)
{
    ScratchDir dir;
    const std::string text = pattern(300000);
    const std::string large = pattern(LinuxOutputFile::kDefaultBufferSize * 3);
    int calls = 0;
    LinuxOutputFile file(::open((dir / "out").c_str(), O_WRONLY | O_CREAT, 0600),
                         [&calls](int fd, const void* data, size_t size) {
                             ++calls;
                             return ::write(fd, data, size);
                         });
    for (std::size_t i = 0; i < text.size(); i += 3)
        ASSERT_TRUE(file.write(bytesOf(text).subspan(i, 3)));
    const int fullBuffers = int(text.size() / LinuxOutputFile::kDefaultBufferSize);
    EXPECT_EQ(calls, fullBuffers);
    ASSERT_TRUE(file.write(bytesOf(large))); // what was gathered, then the piece itself
    EXPECT_EQ(calls, fullBuffers + 2);
    file.close();
    EXPECT_EQ(calls, fullBuffers + 2);
    EXPECT_EQ(readText(dir / "out"), text + large);
}

TEST(OutputFile, InterruptedPartialAndOversizedWritesKeepEveryByteInOrder)
{
    ScratchDir dir;
    const std::string text = pattern(5000);
    int calls = 0;
    LinuxOutputFile file(
        ::open((dir / "out").c_str(), O_WRONLY | O_CREAT, 0600),
        [&calls](int fd, const void* data, size_t size) -> ssize_t {
            errno = EINTR;
            return ++calls % 3 == 0 ? -1 : ::write(fd, data, size < 77 ? size : 77);
        },
        64);
    std::size_t at = 0;
    for (std::size_t piece : {10u, 100u, 54u, 64u, 1u, 700u, 3u, 4068u}) {
        ASSERT_TRUE(file.write(bytesOf(text).subspan(at, piece)));
        at += piece;
    }
    file.close();
    EXPECT_EQ(readText(dir / "out"), text);
}

// The disk fills up part-way: the file keeps what made it, and nothing after it is
// accepted, even once space would be available again.
TEST(OutputFile, AfterAFailureTheFileHoldsAnExactPrefixAndTakesNoMore)
{
    ScratchDir dir;
    const std::string text = pattern(4000);
    std::size_t room = 1000;
    LinuxOutputFile file(
        ::open((dir / "out").c_str(), O_WRONLY | O_CREAT, 0600),
        [&room](int fd, const void* data, size_t size) -> ssize_t {
            errno = ENOSPC;
            const ssize_t written = room == 0 ? -1 : ::write(fd, data, size < room ? size : room);
            room -= written > 0 ? std::size_t(written) : 0;
            return written;
        },
        300);
    std::size_t handed = 0;
    while (handed < text.size() && file.write(bytesOf(text).subspan(handed, 50)))
        handed += 50;
    EXPECT_LT(handed, text.size());
    room = 100000;
    EXPECT_FALSE(file.write(bytesOf("more")));
    file.close();
    EXPECT_EQ(readText(dir / "out"), text.substr(0, 1000));

    const int fullFd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    if (fullFd < 0)
        GTEST_SKIP() << "/dev/full is not available";
    auto full = std::make_unique<LinuxOutputFile>(fullFd);
    EXPECT_FALSE(full->write(bytesOf(std::string(LinuxOutputFile::kDefaultBufferSize, 'j'))));
    EXPECT_FALSE(full->write(bytesOf("x")));
}

} // namespace
} // namespace velo
