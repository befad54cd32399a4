// Output files on Windows: each is a file this run created, whatever held its name before
// (an earlier run's file, a hard link to someone's file, a link); what is written arrives
// whole, and a failed write is said and ends the file.

#include "platform/windows/windowsoutputfile.h"
#include "platform/windows/windowsplatform.h"
#include "tests/platform/windows/scratchfolder.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace velo
{
namespace
{

using testing::Bytes;
const Bytes kTheirs = {'t', 'h', 'e', 'i', 'r', 's', ' ', 'b', 'y', 't', 'e', 's'};
const Bytes kOurs = {0xFF, 0xD8, 0xFF, 0xE0, 'o', 'u', 'r', 's'};

bool writeWhole(Platform& platform, const std::string& path, const Bytes& bytes)
{
    auto file = platform.createOutputFile(path);
    if (!file)
        return false;
    const bool written = file->write(bytes);
    file->close();
    return written;
}

TEST(WindowsOutputFile, ANewFileReplacesWhateverHeldItsNameAndTouchesNothingElse)
{
    WindowsPlatform platform;
    testing::ScratchFolder scratch;
    const std::string theirs = scratch / "theirs.jpg";
    const std::string name = scratch / "DD001.JPG";

    // Nothing there yet.
    ASSERT_TRUE(writeWhole(platform, name, kOurs));
    EXPECT_EQ(testing::readFileBytes(name), kOurs);

    // An earlier run's longer file: replaced, not overwritten in part.
    ASSERT_TRUE(testing::writeFileBytes(name, Bytes(5000, 0x55)));
    ASSERT_TRUE(writeWhole(platform, name, kOurs));
    EXPECT_EQ(testing::readFileBytes(name), kOurs);

    // A hard link to someone else's file: their bytes stay under their own name.
    ASSERT_TRUE(::DeleteFileA(name.c_str()));
    ASSERT_TRUE(testing::writeFileBytes(theirs, kTheirs));
    ASSERT_TRUE(::CreateHardLinkA(name.c_str(), theirs.c_str(), nullptr));
    ASSERT_TRUE(writeWhole(platform, name, kOurs));
    EXPECT_EQ(testing::readFileBytes(name), kOurs);
    EXPECT_EQ(testing::readFileBytes(theirs), kTheirs);
}

TEST(WindowsOutputFile, AFolderOrAReadOnlyFileUnderTheNameIsAFailureAndStaysAsItWas)
{
    WindowsPlatform platform;
    testing::ScratchFolder scratch;
    const std::string folder = scratch / "DD001.JPG";
    ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr));
    EXPECT_EQ(platform.createOutputFile(folder), nullptr);
    EXPECT_TRUE(::GetFileAttributesA(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY);

    const std::string kept = scratch / "DD002.JPG";
    ASSERT_TRUE(testing::writeFileBytes(kept, kTheirs));
    ASSERT_TRUE(::SetFileAttributesA(kept.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(platform.createOutputFile(kept), nullptr);
    EXPECT_EQ(testing::readFileBytes(kept), kTheirs);
    ::SetFileAttributesA(kept.c_str(), FILE_ATTRIBUTE_NORMAL);

    EXPECT_EQ(platform.createOutputFile(scratch / "missing\\DD003.JPG"), nullptr);
}

struct BufferCase {
    const char* name;
    std::size_t bufferBytes;
    std::size_t pieceBytes;
};

void PrintTo(const BufferCase& c, std::ostream* out)
{
    *out << c.name;
}

class BufferedWrites : public ::testing::TestWithParam<BufferCase>
{
};

TEST_P(BufferedWrites, EveryByteArrivesInOrder)
{
    const auto c = GetParam();
    testing::ScratchFolder scratch;
    const std::string path = scratch / "DD001.JPG";
    Bytes all(10000);
    for (std::size_t i = 0; i < all.size(); ++i)
        all[i] = std::uint8_t(i * 7 + i / 256);

    void* handle = windows_backend::createFreshFile(path);
    ASSERT_NE(handle, nullptr);
    windows_backend::WindowsOutputFile file(handle, c.bufferBytes);
    for (std::size_t at = 0; at < all.size(); at += c.pieceBytes)
        ASSERT_TRUE(
            file.write(std::span(all).subspan(at, std::min(c.pieceBytes, all.size() - at))));
    file.close();
    file.close();
    EXPECT_FALSE(file.failed());
    EXPECT_EQ(testing::readFileBytes(path), all);
}

INSTANTIATE_TEST_SUITE_P(Sizes, BufferedWrites,
                         ::testing::Values(BufferCase{"ByteByByte", 4096, 1},
                                           BufferCase{"SectorsIntoABigBuffer", 65536, 512},
                                           BufferCase{"PiecesStraddlingTheBuffer", 1000, 333},
                                           BufferCase{"PiecesLargerThanTheBuffer", 512, 3000}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(WindowsOutputFile, AFailedWriteIsSaidAndTheFileTakesNothingMore)
{
    testing::ScratchFolder scratch;
    const std::string path = scratch / "DD001.JPG";
    ASSERT_TRUE(testing::writeFileBytes(path, {}));
    // A handle that cannot write stands in for a disk that has filled up.
    HANDLE readOnly = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(readOnly, INVALID_HANDLE_VALUE);
    windows_backend::WindowsOutputFile file(readOnly, 16);
    EXPECT_TRUE(file.write(Bytes(8, 1))) << "still in the buffer";
    EXPECT_FALSE(file.write(Bytes(8, 2))) << "the buffer's flush fails";
    EXPECT_TRUE(file.failed());
    EXPECT_FALSE(file.write(Bytes(1, 3)));
    file.close();
    EXPECT_TRUE(file.failed());
    EXPECT_TRUE(testing::readFileBytes(path).empty());
}

} // namespace
} // namespace velo
