// velo-carve.exe under Wine gives the files that the carving rule, written the slow
// obvious way, cuts from the same sectors: on an image file, and on drive E: read as the
// volume \\.\E:, which wine-fixtures.sh maps to a disk image of known sectors.

#include "scan/jpeg/jpegcarver.h"
#include "tests/platform/windows/driveimage.h"
#include "tests/support/carverecorder.h"
#include "tests/support/files.h"
#include "tests/support/photos.h"
#include "tests/support/volume.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <sstream>
#include <windows.h>

namespace velo
{
namespace
{

using testing::Bytes;
using testing::fileNames;

struct RunResult {
    DWORD exitStatus = DWORD(-1);
    std::string errorOutput;
};

// Runs the built velo-carve.exe with these arguments, its output into files, and waits.
RunResult runVeloCarve(const std::vector<std::string>& args)
{
    testing::ScratchDir capture;
    std::string command = "\"" + testing::winePath(VELO_CARVE_BINARY) + "\"";
    for (const auto& arg : args)
        command += " \"" + arg + "\"";

    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const std::string errPath = (capture / "stderr.txt").string();
    HANDLE out =
        ::CreateFileA((capture / "stdout.txt").string().c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                      &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE err = ::CreateFileA(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = INVALID_HANDLE_VALUE;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    RunResult result;
    if (out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE &&
        ::CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                         &startup, &process)) {
        ::WaitForSingleObject(process.hProcess, INFINITE);
        ::GetExitCodeProcess(process.hProcess, &result.exitStatus);
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    ::CloseHandle(out);
    ::CloseHandle(err);
    const Bytes text = testing::readFile(errPath);
    result.errorOutput.assign(text.begin(), text.end());
    return result;
}

// The carve of the whole source with the window's rule into a new folder, checked against
// the model's files: the same names, the same bytes, a report line for each (name, first
// sector, length; "\n" line ends as on every system) and exit status 0.
void expectCarveOf(const std::string& source, const std::map<std::uint64_t, Bytes>& model,
                   const std::map<std::uint64_t, std::uint64_t>& firstSectors)
{
    testing::ScratchDir work;
    const std::string out = (work / "out").string();
    const std::string report = (work / "report.csv").string();
    const RunResult run =
        runVeloCarve({"--quiet", "--rule", "window", "--report", report, source, out});
    ASSERT_EQ(run.exitStatus, 0u) << run.errorOutput;
    EXPECT_EQ(run.errorOutput, "");

    std::vector<std::string> expectedNames;
    for (const auto& [number, content] : model) {
        const std::string name = testing::outputName(number);
        expectedNames.push_back(name);
        EXPECT_EQ(testing::readFile(out + "\\" + name), content) << name;
    }
    // The contact sheet lists every file; this build has no JPEG decoder and says so.
    const Bytes sheet = testing::readFile(out + "\\index.html");
    const std::string page(sheet.begin(), sheet.end());
    EXPECT_NE(page.find("makes no thumbnails"), std::string::npos);
    for (const std::string& name : expectedNames)
        EXPECT_NE(page.find("href=\"" + name + "\""), std::string::npos) << name;
    expectedNames.push_back("index.html");
    EXPECT_EQ(fileNames(out), expectedNames);

    const Bytes reportBytes = testing::readFile(report);
    const std::string reportText(reportBytes.begin(), reportBytes.end());
    EXPECT_EQ(reportText.find('\r'), std::string::npos);
    const auto reportLines = velo::testing::lines(reportText);
    ASSERT_EQ(reportLines.size(), model.size() + 1) << reportText;
    EXPECT_EQ(reportLines[0], "name,first_sector,length,end,output");
    std::size_t row = 1;
    for (const auto& [number, content] : model) {
        const std::string start = testing::outputName(number) + "," +
                                  std::to_string(firstSectors.at(number)) + "," +
                                  std::to_string(content.size()) + ",";
        EXPECT_EQ(reportLines[row].rfind(start, 0), 0u) << reportLines[row];
        ++row;
    }
}

// An image of more than one 4 MiB chunk, with a stream across the border between the
// first two chunks and one that ends in the last sector.
TEST(VeloCarveExe, CarvesAnImageFileAsTheRuleCutsIt)
{
    const std::size_t sectors = 8192 + 100; // a chunk is 8192 sectors of 512 bytes
    testing::Volume volume(sectors);
    volume.stream(3, 5);
    volume.stream(20, 20, 40);
    volume.stream(8190, 8194, 100);
    volume.stream(8200, 8210, 300); // its zeros run into the next sector
    volume.start(sectors - 2);      // still open at the end: ends with the source
    testing::ScratchDir folder;
    const std::string image = (folder / "card.img").string();
    testing::writeFile(image, volume.bytes);

    const auto model = testing::modelFiles(volume, testing::range(0, sectors));
    ASSERT_EQ(model.size(), 5u);
    expectCarveOf(image, model,
                  {{1, 3}, {2, 20}, {3, 8190}, {4, 8200}, {5, std::uint64_t(sectors - 2)}});
}

// Drive E: is read as the volume, in whole sectors of the disk.
// The JPEG rule in velo-carve.exe, walking the files ahead on every core while the pass
// reads the image, cuts what the rule cuts in this process on one thread: the photos of
// the repository one after another at 4 KiB boundaries, the first of them in two pieces.
TEST(VeloCarveExe, TheJpegRuleOnEveryCoreCutsWhatItCutsOnOne)
{
    constexpr std::size_t kCluster = 4096;
    Bytes image;
    std::uint32_t noise = 12345;
    auto gap = [&](std::size_t clusters) {
        image.resize((image.size() + kCluster - 1) / kCluster * kCluster);
        for (std::size_t i = 0; i < clusters * kCluster; ++i)
            image.push_back(std::uint8_t((noise = noise * 1103515245u + 12345u) >> 24));
    };
    // A baseline photo of some 160 KiB is the one cut in two.
    const auto photos = testing::testPhotos();
    const auto cut = std::find_if(photos.begin(), photos.end(),
                                  [](const auto& p) { return p.filename() == "gps_DSCN0010.jpg"; });
    ASSERT_NE(cut, photos.end());
    const Bytes first = testing::readFile(cut->string());
    ASSERT_GT(first.size(), 3 * kCluster);
    image.insert(image.end(), first.begin(), first.begin() + 2 * kCluster);
    gap(3);
    image.insert(image.end(), first.begin() + 2 * kCluster, first.end());
    for (std::size_t i = 0; i < photos.size(); ++i) {
        if (photos[i] == *cut)
            continue;
        gap(1 + i % 3);
        const Bytes photo = testing::readFile(photos[i].string());
        image.insert(image.end(), photo.begin(), photo.end());
    }
    gap(1);

    struct InMemory : jpeg::SectorReader {
        const Bytes& bytes;
        explicit InMemory(const Bytes& b) : bytes(b) {}
        std::uint32_t sectorBytes() const override { return 512; }
        std::uint64_t sectorCount() const override { return bytes.size() / 512; }
        std::size_t read(std::uint64_t firstSector, std::size_t count, std::uint8_t* into) override
        {
            std::memcpy(into, bytes.data() + firstSector * 512, count * 512);
            return count;
        }
    } card(image);
    testing::CarveRecorder expected;
    jpeg::JpegCarver rule(card, expected);
    for (std::uint64_t s = 0; s < card.sectorCount(); ++s)
        rule.sector(s, {image.data() + s * 512, 512});
    rule.finish();
    ASSERT_EQ(expected.files.size(), photos.size());
    // Put back together; handed out after the photos that follow it on this small card.
    EXPECT_TRUE(std::any_of(expected.files.begin(), expected.files.end(),
                            [&](const auto& file) { return file.second == first; }));

    testing::ScratchDir work;
    const std::string source = (work / "card.img").string();
    const std::string out = (work / "out").string();
    testing::writeFile(source, image);
    const RunResult run = runVeloCarve({"--quiet", "--rule", "jpeg", source, out});
    ASSERT_EQ(run.exitStatus, 0u) << run.errorOutput;
    std::vector<std::string> names;
    for (const auto& [number, content] : expected.files) {
        names.push_back(testing::outputName(number));
        EXPECT_EQ(testing::readFile(out + "\\" + names.back()), content) << names.back();
    }
    names.push_back("index.html"); // the contact sheet
    EXPECT_EQ(fileNames(out), names);
}

TEST(VeloCarveExe, CarvesDriveEReadAsTheVolume)
{
    const auto model = testing::modelFiles(testing::driveImage(), testing::kDriveSectorBytes);
    ASSERT_EQ(model.size(), 2u);
    expectCarveOf("\\\\.\\E:", model, {{1, 10}, {2, 40}});
}

// What cannot be read, or would write over the source, a device, a folder or an earlier
// run, is refused before anything is created: status 2, one line naming the problem, the
// source as it was and OUTDIR still missing.
TEST(VeloCarveExe, RefusesBeforeCreatingAnything)
{
    testing::ScratchDir work;
    testing::Volume volume(64);
    volume.stream(3, 5);
    const std::string image = (work / "card.img").string();
    testing::writeFile(image, volume.bytes);
    const std::string earlier = (work / "earlier").string();
    ASSERT_TRUE(::CreateDirectoryA(earlier.c_str(), nullptr));
    testing::writeFile(earlier + "\\DD001.JPG", {1, 2, 3});
    const std::string small = (work / "small").string(); // an earlier run in small letters
    ASSERT_TRUE(::CreateDirectoryA(small.c_str(), nullptr));
    testing::writeFile(small + "\\dd001.jpg", {1, 2, 3});
    const std::string out = (work / "out").string();
    const std::string onE = "E:\\velo-carve-" + std::to_string(::GetCurrentProcessId());

    const struct {
        std::vector<std::string> args;
        const char* mentions;
    } rows[] = {
        {{(work / "missing.img").string(), out}, "cannot open"},
        {{work.path.string(), out}, "is a folder"},
        {{"--sectors", "65", image, out}, "whole sectors"},
        {{image, image}, "is not a folder"},
        {{image, earlier}, "earlier run"},
        {{image, small}, "earlier run"},
        {{"--report", image, image, out}, "is the source itself"},
        {{"--report", "\\\\.\\E:", image, out}, "over the device"},
        {{"--report", "NUL", image, out}, "over the device"},
        {{"--report", work.path.string(), image, out}, "Is a directory"},
        {{"--report", out + "\\DD001.JPG", image, out}, "would be one of the files"},
        {{"--report", out + "\\dd001.jpg", image, out}, "would be one of the files"},
        {{"\\\\.\\E:", onE}, "lies on \\\\.\\E:"},
        {{"--report", onE + ".csv", "\\\\.\\E:", out}, "lies on \\\\.\\E:"},
    };
    for (const auto& row : rows) {
        const RunResult run = runVeloCarve(row.args);
        EXPECT_EQ(run.exitStatus, 2u) << row.mentions;
        const auto errors = velo::testing::lines(run.errorOutput);
        ASSERT_EQ(errors.size(), 1u) << run.errorOutput;
        EXPECT_EQ(errors[0].rfind("velo-carve: ", 0), 0u) << errors[0];
        EXPECT_NE(errors[0].find(row.mentions), std::string::npos) << errors[0];
        EXPECT_EQ(::GetFileAttributesA(out.c_str()), INVALID_FILE_ATTRIBUTES) << row.mentions;
        EXPECT_EQ(::GetFileAttributesA(onE.c_str()), INVALID_FILE_ATTRIBUTES) << row.mentions;
        EXPECT_EQ(::GetFileAttributesA((onE + ".csv").c_str()), INVALID_FILE_ATTRIBUTES);
    }
    EXPECT_EQ(testing::readFile(image), volume.bytes);
    EXPECT_EQ(fileNames(earlier), std::vector<std::string>{"DD001.JPG"});
    EXPECT_EQ(fileNames(small), std::vector<std::string>{"dd001.jpg"});
}

// Under Wine a symbolic link of the host looks like a plain file, so it cannot be seen
// and refused as on Linux: the report is made as a new file that takes the name, and
// the link's target keeps its bytes. wine-fixtures.sh plants the link.
TEST(VeloCarveExe, AReportNamedByALinkNeverWritesToItsTarget)
{
    testing::PlantedLink planted;
    ASSERT_EQ(testing::findPlantedLink(testing::winePath(VELO_LINK_FOLDER), "report.csv", planted),
              "");
    const auto& [folder, link, target, before] = planted;

    testing::ScratchDir work;
    testing::Volume volume(16);
    const std::string image = (work / "card.img").string();
    testing::writeFile(image, volume.bytes);
    const RunResult run = runVeloCarve(
        {"--quiet", "--rule", "window", "--report", link, image, (work / "out").string()});
    EXPECT_EQ(run.exitStatus, 0u) << run.errorOutput;
    EXPECT_EQ(testing::readFile(target), before);
    const Bytes report = testing::readFile(link);
    EXPECT_EQ(std::string(report.begin(), report.end()), "name,first_sector,length,end,output\n");
}

// Carving drive E: into a folder on drive E: itself (refused without it above) is allowed
// with --allow-writing-to-source, and warned of.
TEST(VeloCarveExe, WarnsWhenAllowedToWriteOnTheVolumeBeingCarved)
{
    const std::string out = "E:\\velo-carve-" + std::to_string(::GetCurrentProcessId());
    const RunResult run = runVeloCarve({"--quiet", "--allow-writing-to-source", "\\\\.\\E:", out});
    std::error_code ec;
    std::filesystem::remove_all(out, ec);
    EXPECT_EQ(run.exitStatus, 0u) << run.errorOutput;
    const auto errors = velo::testing::lines(run.errorOutput);
    ASSERT_EQ(errors.size(), 1u) << run.errorOutput;
    EXPECT_NE(errors[0].find("warning: " + out + " lies on \\\\.\\E:, the device being read"),
              std::string::npos)
        << errors[0];
}

} // namespace
} // namespace velo
