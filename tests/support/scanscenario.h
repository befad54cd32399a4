#pragma once

// The whole scan loop (raw volume, passes, output files) on the fake machine, against
// the byte-at-a-time model fed with the sectors that the machine really hands over.
// Faults come from the input: unreadable sectors, a volume that vanishes, reads that
// come back short, passes past the volume's end, a disk that fills up, a stop.

#include "drive/rawvolume.h"
#include "platform/fake/fakeplatform.h"
#include "scan/recoveryscan.h"
#include "tests/support/carverscenario.h"
#include "tests/support/files.h"
#include "tests/support/scanhoststub.h"

#include <functional>

namespace velo::fuzzing
{

struct ScanFaults {
    bool win9xPath = false;
    std::optional<std::uint64_t> vanishAfterReads;
    std::optional<std::uint32_t> shortReadBytes;
    std::optional<std::uint64_t> diskCapacityBytes;
    std::optional<std::int64_t> stopAtPass; // the stop command runs in this pass's events
    std::int64_t extraPasses = 0;           // passes beyond the volume's last sector
};

// The first bytes choose the faults (one to six of them); the rest is a carver scenario.
inline ScanFaults decodeFaults(InputReader& in)
{
    ScanFaults f;
    const std::uint8_t flags = in.byte();
    f.win9xPath = flags & 1;
    if (flags & 2)
        f.vanishAfterReads = in.byte() % 80;
    if (flags & 4)
        f.diskCapacityBytes = std::uint64_t(in.word()) * 4;
    if (flags & 8)
        f.stopAtPass = 1 + in.byte() % 80;
    // The 95/98/Me service transfers whole sectors or fails: neither a short transfer nor
    // a read past the end exists there, so only the device path gets those.
    if (!f.win9xPath) {
        if (flags & 16)
            f.shortReadBytes = in.word() % (kLargestSector + 1);
        if (flags & 32)
            f.extraPasses = 1 + in.byte() % 4;
    }
    return f;
}

inline std::string outputPath(std::uint64_t number)
{
    return "/save/" + testing::outputName(number);
}

// Runs the scan on the fake machine and returns the first way it differs from what the
// model says the files must hold, or nothing.
inline std::optional<std::string> scanDifference(const std::uint8_t* data, std::size_t size)
{
    InputReader head(data, size);
    const ScanFaults faults = decodeFaults(head);
    const std::size_t used = size - head.left();
    const Scenario sc = decodeScenario(data + used, size - used);
    const std::size_t S = sc.sectorBytes;

    FakePlatform platform;
    platform.platformId = faults.win9xPath ? kPlatformWin9x : kPlatformNt;
    platform.folders.insert("/save");
    platform.diskCapacityBytes = faults.diskCapacityBytes;
    FakeDrive& drive = platform.addDrive("E");
    drive.volumeBytes = sc.volume;
    drive.sectorBytes = std::uint32_t(S);
    drive.vanishAfterReads = faults.vanishAfterReads;
    drive.shortReadBytes = faults.shortReadBytes;
    for (std::size_t i = 0; i < sc.sectorCount(); ++i)
        if (sc.reads[i].failed)
            drive.unreadableSectors.insert(i);

    const std::int64_t total = std::int64_t(sc.sectorCount()) + faults.extraPasses;
    testing::ScanHostStub host;
    std::vector<std::uint8_t> buffer(S + 1, 0);
    FileSink files = windowFiles(platform, host);
    if (faults.stopAtPass)
        host.duringEvents = [&](std::uint64_t pass) {
            if (std::int64_t(pass) == *faults.stopAtPass) { // what the stop command does
                host.stop = true;
                files.stop();
            }
        };

    ScanEnd end;
    {
        auto volume = openRawVolume(platform, faults.win9xPath ? 1 : 0, "E", buffer);
        if (!volume)
            return std::string("the volume did not open");
        end = runRecoveryPasses(platform, host, *volume, buffer, files, total);
    }

    // The model, fed what the machine hands over pass by pass.
    testing::NaiveCarve model;
    const std::int64_t passes =
        faults.stopAtPass && *faults.stopAtPass <= total ? *faults.stopAtPass - 1 : total;
    for (std::int64_t p = 1; p <= passes; ++p) {
        const std::size_t index = std::size_t(p - 1);
        const std::uint64_t offset = std::uint64_t(index) * S;
        if (faults.vanishAfterReads && std::uint64_t(index) >= *faults.vanishAfterReads)
            continue;
        if (drive.unreadableSectors.count(S ? index : 0))
            continue;
        std::size_t n =
            offset < sc.volume.size() ? std::min<std::size_t>(S, sc.volume.size() - offset) : 0;
        if (faults.shortReadBytes)
            n = std::min<std::size_t>(n, *faults.shortReadBytes);
        model.sector(Bytes(
            sc.volume.begin() + std::ptrdiff_t(std::min<std::uint64_t>(offset, sc.volume.size())),
            sc.volume.begin() +
                std::ptrdiff_t(std::min<std::uint64_t>(offset, sc.volume.size()) + n)));
    }

    std::ostringstream where;
    where << "sector size " << S << ", " << total << " passes, path " << (faults.win9xPath ? 1 : 0)
          << ": ";
    const ScanEnd expectedEnd = passes < total ? ScanEnd::Stopped : ScanEnd::Completed;
    if (end != expectedEnd)
        return where.str() + "the scan ended the wrong way";
    if (platform.sectorsRead.size() != std::size_t(passes))
        return where.str() + std::to_string(platform.sectorsRead.size()) + " reads for " +
               std::to_string(passes) + " passes";
    if (buffer[S] != 0)
        return where.str() + "the byte after the sector was overwritten";
    if (platform.openOutputFiles != 0 || platform.openDeviceHandles != 0)
        return where.str() + "a file or the device is still open";

    // A full disk cuts the files in the order they were written: each holds an exact
    // prefix of what it was carved, as long as the room left when it was written.
    std::uint64_t room = faults.diskCapacityBytes.value_or(~std::uint64_t(0));
    std::vector<std::string> expectedCreated;
    for (const auto& [number, content] : model.files) {
        expectedCreated.push_back(outputPath(number));
        const std::size_t keep = std::size_t(std::min<std::uint64_t>(content.size(), room));
        room -= keep;
        const auto it = platform.files.find(outputPath(number));
        if (it == platform.files.end())
            return where.str() + outputPath(number) + " was not written";
        if (it->second != Bytes(content.begin(), content.begin() + std::ptrdiff_t(keep)))
            return where.str() + outputPath(number) + " holds " +
                   std::to_string(it->second.size()) + " bytes, expected the first " +
                   std::to_string(keep) + " of " + std::to_string(content.size());
    }
    if (platform.createdFiles != expectedCreated || platform.files.size() != model.files.size())
        return where.str() + std::to_string(platform.createdFiles.size()) + " files made, model " +
               std::to_string(model.files.size());
    return std::nullopt;
}

} // namespace velo::fuzzing
