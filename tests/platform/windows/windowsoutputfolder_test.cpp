// Output folders on Windows: a file is only ever created new, by plain name, in the folder
// that was opened; a taken name is refused or replaced, never written through; and a lock
// on the folder keeps a second holder out.

#include "platform/windows/windowsplatform.h"
#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace velo
{
namespace
{

using testing::Bytes;
const Bytes kTheirs = {'t', 'h', 'e', 'i', 'r', 's', ' ', 'b', 'y', 't', 'e', 's'};
const Bytes kOurs = {0xFF, 0xD8, 0xFF, 0xE0, 'o', 'u', 'r', 's'};

// Creates name in folder and writes bytes to it whole; the failure the create reported.
CreateFailure writeWhole(OutputFolder& folder, const std::string& name, IfNameTaken ifTaken,
                         const Bytes& bytes)
{
    CreateFailure why = CreateFailure::None;
    auto file = folder.createFile(name, ifTaken, why);
    if (!file)
        return why;
    EXPECT_EQ(why, CreateFailure::None);
    EXPECT_TRUE(file->write(bytes));
    file->close();
    return why;
}

std::unique_ptr<OutputFolder> openFolder(const std::filesystem::path& path)
{
    WindowsPlatform platform;
    return platform.openOutputFolder(path.string());
}

TEST(WindowsOutputFolder, ATakenNameIsRefusedOrReplacedAndNothingElseIsTouched)
{
    testing::ScratchDir scratch;
    auto folder = openFolder(scratch.path);
    ASSERT_TRUE(folder);
    const std::string name = (scratch / "DD001.JPG").string();
    const std::string theirs = (scratch / "theirs.jpg").string();

    // Nothing there yet: either way makes the file.
    ASSERT_EQ(writeWhole(*folder, "DD001.JPG", IfNameTaken::Fail, kOurs), CreateFailure::None);
    EXPECT_EQ(testing::readFile(name), kOurs);

    // An earlier run's longer file: refused, or replaced and not overwritten in part.
    testing::writeFile(name, Bytes(5000, 0x55));
    EXPECT_EQ(writeWhole(*folder, "DD001.JPG", IfNameTaken::Fail, kOurs), CreateFailure::NameTaken);
    EXPECT_EQ(testing::readFile(name), Bytes(5000, 0x55));
    ASSERT_EQ(writeWhole(*folder, "DD001.JPG", IfNameTaken::Replace, kOurs), CreateFailure::None);
    EXPECT_EQ(testing::readFile(name), kOurs);

    // A hard link to someone else's file: their bytes stay under their own name.
    ASSERT_TRUE(::DeleteFileA(name.c_str()));
    testing::writeFile(theirs, kTheirs);
    ASSERT_TRUE(::CreateHardLinkA(name.c_str(), theirs.c_str(), nullptr));
    EXPECT_EQ(writeWhole(*folder, "DD001.JPG", IfNameTaken::Fail, kOurs), CreateFailure::NameTaken);
    ASSERT_EQ(writeWhole(*folder, "DD001.JPG", IfNameTaken::Replace, kOurs), CreateFailure::None);
    EXPECT_EQ(testing::readFile(name), kOurs);
    EXPECT_EQ(testing::readFile(theirs), kTheirs);

    // No spare name of a replacement is left behind.
    WIN32_FIND_DATAA found{};
    HANDLE search = ::FindFirstFileA((scratch / "*").string().c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    std::vector<std::string> names;
    do {
        if (found.cFileName[0] != '.')
            names.push_back(found.cFileName);
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
    EXPECT_EQ(names, (std::vector<std::string>{"DD001.JPG", "theirs.jpg"}));
}

TEST(WindowsOutputFolder, AFolderOrAReadOnlyFileUnderTheNameIsTakenEvenToReplaceAndStaysAsItWas)
{
    testing::ScratchDir scratch;
    auto folder = openFolder(scratch.path);
    ASSERT_TRUE(folder);
    ASSERT_TRUE(::CreateDirectoryA((scratch / "DD001.JPG").string().c_str(), nullptr));
    testing::writeFile(scratch / "DD002.JPG", kTheirs);
    ASSERT_TRUE(
        ::SetFileAttributesA((scratch / "DD002.JPG").string().c_str(), FILE_ATTRIBUTE_READONLY));

    for (const IfNameTaken ifTaken : {IfNameTaken::Fail, IfNameTaken::Replace}) {
        EXPECT_EQ(writeWhole(*folder, "DD001.JPG", ifTaken, kOurs), CreateFailure::NameTaken);
        EXPECT_EQ(writeWhole(*folder, "DD002.JPG", ifTaken, kOurs), CreateFailure::NameTaken);
    }
    EXPECT_TRUE(::GetFileAttributesA((scratch / "DD001.JPG").string().c_str()) &
                FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(testing::readFile(scratch / "DD002.JPG"), kTheirs);
    ::SetFileAttributesA((scratch / "DD002.JPG").string().c_str(), FILE_ATTRIBUTE_NORMAL);
}

// Only a plain name of a file in the folder is made: nothing in another folder, no stream
// of a file, no device, no name that Windows would quietly shorten into another.
TEST(WindowsOutputFolder, RefusesAnythingButAPlainFileName)
{
    testing::ScratchDir scratch;
    ASSERT_TRUE(::CreateDirectoryA((scratch / "sub").string().c_str(), nullptr));
    testing::writeFile(scratch / "DD001.JPG", kTheirs);
    auto folder = openFolder(scratch / "sub");
    ASSERT_TRUE(folder);
    const char* names[] = {
        "",        ".",         "..",         "..\\DD002.JPG", "../DD002.JPG",
        "C:x.jpg", "x.jpg:ads", "CON",        "nul.jpg",       "Com1.JPG",
        "LPT9",    "DD002.",    "DD002.JPG ", "DD*.JPG",       "DD\x01.JPG",
    };
    for (const char* name : names) {
        for (const IfNameTaken ifTaken : {IfNameTaken::Fail, IfNameTaken::Replace})
            EXPECT_EQ(writeWhole(*folder, name, ifTaken, kOurs), CreateFailure::Other) << name;
    }
    EXPECT_EQ(testing::readFile(scratch / "DD001.JPG"), kTheirs);
    EXPECT_EQ(::GetFileAttributesA((scratch / "DD002.JPG").string().c_str()),
              INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(::GetFileAttributesA((scratch / "sub\\DD002").string().c_str()),
              INVALID_FILE_ATTRIBUTES);
}

TEST(WindowsOutputFolder, OpensAnExistingFolderWithOrWithoutItsSeparatorAndNothingElse)
{
    testing::ScratchDir scratch;
    testing::writeFile(scratch / "file.jpg", kTheirs);
    EXPECT_FALSE(openFolder(scratch / "missing"));
    EXPECT_FALSE(openFolder(scratch / "file.jpg"));

    auto folder = openFolder(scratch.path.string() + "\\");
    ASSERT_TRUE(folder);
    ASSERT_EQ(writeWhole(*folder, "DD001.JPG", IfNameTaken::Fail, kOurs), CreateFailure::None);
    EXPECT_EQ(testing::readFile(scratch / "DD001.JPG"), kOurs);
}

// The folder is held for as long as it is open: it cannot be renamed away and another
// put in its place, so every file lands in the folder that was opened.
TEST(WindowsOutputFolder, CannotBeRenamedOrRemovedWhileOpen)
{
    testing::ScratchDir scratch;
    const std::string out = (scratch / "out").string();
    const std::string moved = (scratch / "moved").string();
    ASSERT_TRUE(::CreateDirectoryA(out.c_str(), nullptr));
    {
        auto folder = openFolder(out);
        ASSERT_TRUE(folder);
        EXPECT_FALSE(::MoveFileA(out.c_str(), moved.c_str()));
        EXPECT_FALSE(::RemoveDirectoryA(out.c_str()));
        ASSERT_EQ(writeWhole(*folder, "DD001.JPG", IfNameTaken::Fail, kOurs), CreateFailure::None);
    }
    EXPECT_EQ(testing::readFile(out + "\\DD001.JPG"), kOurs);
    EXPECT_TRUE(::MoveFileA(out.c_str(), moved.c_str())) << "free again once closed";
}

TEST(WindowsOutputFolder, ASecondLockOnTheSameFolderFailsUntilTheFirstIsGone)
{
    testing::ScratchDir scratch;
    ASSERT_TRUE(::CreateDirectoryA((scratch / "other").string().c_str(), nullptr));
    auto first = openFolder(scratch.path);
    ASSERT_TRUE(first);
    ASSERT_TRUE(first->lockExclusive());
    EXPECT_TRUE(first->lockExclusive()) << "a holder may ask again";

    // Another holder still opens the folder and writes in it, but gets no lock.
    auto second = openFolder(scratch.path.string() + "\\");
    ASSERT_TRUE(second);
    EXPECT_FALSE(second->lockExclusive());
    EXPECT_EQ(writeWhole(*second, "DD001.JPG", IfNameTaken::Fail, kOurs), CreateFailure::None);
    EXPECT_EQ(writeWhole(*first, "DD002.JPG", IfNameTaken::Fail, kOurs), CreateFailure::None);

    // A lock is on one folder only.
    auto other = openFolder(scratch / "other");
    ASSERT_TRUE(other);
    EXPECT_TRUE(other->lockExclusive());

    first.reset();
    EXPECT_TRUE(second->lockExclusive());
}

} // namespace
} // namespace velo
