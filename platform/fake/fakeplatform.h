#pragma once

#include "platform/platform.h"
#include "platform/readahead.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace velo
{

// One drive of the fake machine: what the drive list shows, what the free-space query
// answers, and a volume of bytes behind it with hooks that break reads on purpose.
struct FakeDrive {
    std::string letter;
    DriveType type = DriveType::Fixed;
    std::string rootFolder;
    std::optional<DiskFreeSpace> freeSpace; // empty: the query fails
    bool canOpen = true;                    // false: opening its device fails
    std::optional<DriveDetails> details;    // what the system says stands behind the letter

    std::vector<std::uint8_t> volumeBytes;
    std::uint32_t sectorBytes = 512; // what the VWIN32 device transfers per sector
    // The volume device reads ahead in blocks of this many bytes, as the real backends do
    // in blocks of a mebibyte: small here, so that a test's few sectors span several.
    std::uint32_t readAheadBytes = 8 * 512;
    // Faults. An unreadable sector lies in the volume: every read covering it fails,
    // blocks read ahead included. The other two act on the reads the program asks for,
    // one per sector, after any reading ahead: each of those counts as a read.
    std::set<std::uint64_t> unreadableSectors;
    std::optional<std::uint64_t> vanishAfterReads; // every read after this many fails
    std::optional<std::uint32_t> shortReadBytes;   // successful reads transfer this much at most
};

// An in-memory machine for tests: drives, a VWIN32 device for the 95/98/Me path, and a
// file system for output with its own faults. Everything done to it is recorded.
class FakePlatform : public Platform
{
public:
    std::uint32_t platformId = kPlatformNt;
    std::vector<FakeDrive> driveList;
    std::string programFolderPath = "/fake/program";
    char separator = '/';

    // Output file system. Folders that exist; files by path.
    std::set<std::string> folders{"/", "/fake", "/fake/program"};
    std::map<std::string, std::vector<std::uint8_t>> files;
    std::map<std::string, std::int64_t> modifiedTimes; // of closed files that keep one
    std::optional<std::uint64_t> diskCapacityBytes;    // writes beyond it fail (disk full)
    std::optional<CreateFailure> createsFailWith;      // every create fails so (no inodes)
    std::set<std::string> lockedFolders;               // folders whose lock someone holds
    std::set<std::string> closesFailFor;               // files whose close says bytes were lost

    // What the program did.
    std::vector<std::string> openedDevices;
    std::vector<std::string> freeSpaceQueries;
    std::vector<std::string> createdFolders;
    std::vector<std::string> openedFolders;
    std::vector<std::string> createdFiles;  // every create asked for, as folder + name
    std::vector<std::uint64_t> sectorsRead; // byte offset / sector size of every read asked for
    std::vector<std::vector<std::uint8_t>> registerBlocks; // every VWIN32 request block
    int openDeviceHandles = 0;
    int openOutputFiles = 0;

    // Called before every device read with the number of reads so far; tests use it to
    // act in the middle of a scan (click a button, stop).
    std::function<void(std::uint64_t readCount)> beforeRead;

    FakeDrive& addDrive(std::string letter, DriveType type = DriveType::Fixed);
    FakeDrive* findDrive(const std::string& letter);
    std::uint64_t storedBytes() const;

    std::uint32_t platformIdentifier() override { return platformId; }
    std::vector<DriveInfo> drives() override;
    std::optional<DiskFreeSpace> diskFreeSpace(const std::string& rootPath) override;
    std::unique_ptr<DeviceHandle> openDevice(const std::string& deviceName) override;
    std::string programFolder() override { return programFolderPath; }
    char pathSeparator() const override { return separator; }
    bool createFolder(const std::string& path) override;
    std::unique_ptr<OutputFolder> openOutputFolder(const std::string& path) override;
    // The drive whose root folder holds folder most closely (by whole names) is the one.
    bool folderLiesOnDrive(const std::string& folder, const std::string& driveLetter) override;

private:
    friend class FakeVolumeHandle;
    friend class FakeVwin32Handle;
    friend class FakeOutputFile;
    friend class FakeOutputFolder;
    // A read the program asks for: runs beforeRead, records it; false once the volume has
    // vanished.
    bool startRead(FakeDrive& drive, std::uint64_t byteOffset);
    // What the volume holds at byteOffset, up to its end or its first unreadable sector.
    static ReadAnswer volumeBytes(const FakeDrive& drive, std::uint64_t byteOffset,
                                  std::uint8_t* into, std::uint32_t byteCount);
    bool readSector(FakeDrive& drive, std::uint64_t byteOffset, std::uint8_t* into,
                    std::uint32_t byteCount, std::uint32_t& transferred);
    std::uint64_t readCount_ = 0;
};

} // namespace velo
