// Output files on Windows: what is written arrives whole and in order, and a failed write
// is said and ends the file.

#include "platform/windows/windowsoutputfile.h"
#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace velo
{
namespace
{

using testing::Bytes;

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
    testing::ScratchDir scratch;
    const std::string path = (scratch / "DD001.JPG").string();
    Bytes all(10000);
    for (std::size_t i = 0; i < all.size(); ++i)
        all[i] = std::uint8_t(i * 7 + i / 256);

    HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    windows_backend::WindowsOutputFile file(handle, c.bufferBytes);
    for (std::size_t at = 0; at < all.size(); at += c.pieceBytes)
        ASSERT_TRUE(
            file.write(std::span(all).subspan(at, std::min(c.pieceBytes, all.size() - at))));
    EXPECT_TRUE(file.close());
    file.close();
    EXPECT_FALSE(file.failed());
    EXPECT_FALSE(file.write(all)) << "closed";
    EXPECT_EQ(testing::readFile(path), all);
}

INSTANTIATE_TEST_SUITE_P(Sizes, BufferedWrites,
                         ::testing::Values(BufferCase{"ByteByByte", 4096, 1},
                                           BufferCase{"SectorsIntoABigBuffer", 65536, 512},
                                           BufferCase{"PiecesStraddlingTheBuffer", 1000, 333},
                                           BufferCase{"PiecesLargerThanTheBuffer", 512, 3000}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(WindowsOutputFile, AFailedWriteIsSaidAndTheFileTakesNothingMore)
{
    testing::ScratchDir scratch;
    const std::string path = (scratch / "DD001.JPG").string();
    testing::writeFile(path, {});
    // A handle that cannot write stands in for a disk that has filled up.
    HANDLE readOnly = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(readOnly, INVALID_HANDLE_VALUE);
    windows_backend::WindowsOutputFile file(readOnly, 16);
    EXPECT_TRUE(file.write(Bytes(8, 1))) << "still in the buffer";
    EXPECT_FALSE(file.write(Bytes(8, 2))) << "the buffer's flush fails";
    EXPECT_TRUE(file.failed());
    EXPECT_FALSE(file.write(Bytes(1, 3)));
    EXPECT_FALSE(file.close());
    EXPECT_FALSE(file.close()) << "a second close answers the same";
    EXPECT_TRUE(file.failed());
    EXPECT_TRUE(testing::readFile(path).empty());
}

} // namespace
} // namespace velo
