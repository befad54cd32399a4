#include "platform/fake/fakeplatform.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace velo
{

namespace
{
std::string upper(std::string text)
{
    for (char& c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string parentOf(const std::string& path, char separator)
{
    const auto cut = path.find_last_of(separator);
    if (cut == std::string::npos)
        return {};
    return cut == 0 ? std::string(1, separator) : path.substr(0, cut);
}

std::uint32_t le32(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return std::uint32_t(bytes[at]) | std::uint32_t(bytes[at + 1]) << 8 |
           std::uint32_t(bytes[at + 2]) << 16 | std::uint32_t(bytes[at + 3]) << 24;
}
} // namespace

// A drive's volume opened as "\\.\X:": sequential reads from byte 0, served through the
// read-ahead the real backends use, in blocks of the drive's readAheadBytes.
class FakeVolumeHandle : public DeviceHandle
{
public:
    FakeVolumeHandle(FakePlatform& platform, std::string letter, std::uint32_t readAheadBytes)
        : platform_(platform), letter_(std::move(letter)),
          readAhead_(
              [this](std::uint8_t* into, std::uint32_t byteCount, std::uint64_t byteOffset) {
                  FakeDrive* drive = platform_.findDrive(letter_);
                  return drive ? platform_.volumeBytes(*drive, byteOffset, into, byteCount)
                               : ReadAnswer{0, ReadFailure::Gone};
              },
              readAheadBytes)
    {
        ++platform_.openDeviceHandles;
    }
    ~FakeVolumeHandle() override { --platform_.openDeviceHandles; }

    bool read(std::uint8_t* into, std::uint32_t byteCount, std::uint32_t& transferred) override
    {
        FakeDrive* drive = platform_.findDrive(letter_);
        const std::uint64_t at = position_;
        position_ += byteCount;
        transferred = 0;
        if (!drive || !platform_.startRead(*drive, at))
            return false;
        if (!readAhead_.read(into, byteCount, at, transferred))
            return false;
        if (drive->shortReadBytes)
            transferred = std::min(transferred, *drive->shortReadBytes);
        return true;
    }

    bool control(std::uint32_t, std::span<const std::uint8_t>, std::span<std::uint8_t>,
                 std::uint32_t&, std::span<std::uint8_t>) override
    {
        return false;
    }

private:
    FakePlatform& platform_;
    std::string letter_;
    ReadAhead readAhead_;
    std::uint64_t position_ = 0;
};

// The VWIN32 device of the 95/98/Me family. Control code 2 is the absolute disk read:
// the register block names the drive (EAX, A = 0), the first sector (EDX), the sector
// count (ECX) and the buffer (EBX). A 32-bit EBX cannot hold a 64-bit address, so the
// caller's buffer travels beside the block and EBX must hold its low 32 bits.
class FakeVwin32Handle : public DeviceHandle
{
public:
    explicit FakeVwin32Handle(FakePlatform& platform) : platform_(platform)
    {
        ++platform_.openDeviceHandles;
    }
    ~FakeVwin32Handle() override { --platform_.openDeviceHandles; }

    bool read(std::uint8_t*, std::uint32_t, std::uint32_t&) override { return false; }

    bool control(std::uint32_t controlCode, std::span<const std::uint8_t> input,
                 std::span<std::uint8_t> output, std::uint32_t& bytesReturned,
                 std::span<std::uint8_t> callerMemory) override
    {
        constexpr std::uint32_t kAbsoluteDiskRead = 2;
        if (controlCode != kAbsoluteDiskRead || input.size() != 28 || output.size() < 28)
            return false;
        platform_.registerBlocks.emplace_back(input.begin(), input.end());
        const std::uint32_t ebx = le32(input, 0), edx = le32(input, 4), ecx = le32(input, 8),
                            eax = le32(input, 12);
        const auto address = reinterpret_cast<std::uintptr_t>(callerMemory.data());
        if (ebx != std::uint32_t(address))
            return false;
        if (eax > 25)
            return false;
        FakeDrive* drive = platform_.findDrive(std::string(1, char('A' + eax)));
        if (!drive)
            return false;
        const std::uint64_t byteCount = std::uint64_t(ecx) * drive->sectorBytes;
        if (byteCount > callerMemory.size())
            return false;
        std::uint32_t transferred = 0;
        const bool ok =
            platform_.readSector(*drive, std::uint64_t(edx) * drive->sectorBytes,
                                 callerMemory.data(), std::uint32_t(byteCount), transferred);
        std::copy(input.begin(), input.end(), output.begin());
        bytesReturned = 28;
        return ok;
    }

private:
    FakePlatform& platform_;
};

class FakeOutputFile : public OutputFile
{
public:
    FakeOutputFile(FakePlatform& platform, std::string path)
        : platform_(platform), path_(std::move(path))
    {
        ++platform_.openOutputFiles;
    }
    ~FakeOutputFile() override { close(); }

    bool write(std::span<const std::uint8_t> bytes) override
    {
        if (closed_ || failed_)
            return false;
        std::uint64_t room = bytes.size();
        if (platform_.diskCapacityBytes) {
            const std::uint64_t used = platform_.storedBytes();
            room = used >= *platform_.diskCapacityBytes
                       ? 0
                       : std::min<std::uint64_t>(room, *platform_.diskCapacityBytes - used);
        }
        auto& content = platform_.files[path_];
        content.insert(content.end(), bytes.begin(), bytes.begin() + std::ptrdiff_t(room));
        failed_ = room < bytes.size();
        return !failed_;
    }

    bool close() override
    {
        if (!closed_) {
            closed_ = true;
            --platform_.openOutputFiles;
            if (modified_)
                platform_.modifiedTimes[path_] = *modified_;
        }
        return !failed_ && !platform_.closesFailFor.count(path_);
    }

    void keepModifiedTime(std::int64_t unixSeconds) override { modified_ = unixSeconds; }

private:
    FakePlatform& platform_;
    std::string path_;
    bool closed_ = false;
    bool failed_ = false;
    std::optional<std::int64_t> modified_;
};

// A folder of the fake file system. Names are created new; Replace drops the old file
// first, as the real backend unlinks the old name.
class FakeOutputFolder : public OutputFolder
{
public:
    FakeOutputFolder(FakePlatform& platform, std::string folder)
        : platform_(platform), folder_(std::move(folder))
    {
    }
    ~FakeOutputFolder() override
    {
        if (locked_)
            platform_.lockedFolders.erase(folder_);
    }

    std::unique_ptr<OutputFile> createFile(const std::string& name, IfNameTaken ifTaken,
                                           CreateFailure& failure) override
    {
        const std::string path = folder_ == std::string(1, platform_.separator)
                                     ? folder_ + name
                                     : folder_ + platform_.separator + name;
        platform_.createdFiles.push_back(path);
        failure = CreateFailure::Other;
        if (name.empty() || name.find(platform_.separator) != std::string::npos ||
            !platform_.folders.count(folder_) || platform_.folders.count(path))
            return nullptr;
        if (platform_.createsFailWith) {
            failure = *platform_.createsFailWith;
            return nullptr;
        }
        if (platform_.files.count(path)) {
            if (ifTaken == IfNameTaken::Fail) {
                failure = CreateFailure::NameTaken;
                return nullptr;
            }
            platform_.files.erase(path);
        }
        failure = CreateFailure::None;
        platform_.files[path];
        return std::make_unique<FakeOutputFile>(platform_, path);
    }

    bool lockExclusive() override
    {
        if (locked_)
            return true;
        locked_ = platform_.lockedFolders.insert(folder_).second;
        return locked_;
    }

private:
    FakePlatform& platform_;
    std::string folder_;
    bool locked_ = false;
};

FakeDrive& FakePlatform::addDrive(std::string letter, DriveType type)
{
    FakeDrive drive;
    drive.letter = std::move(letter);
    drive.type = type;
    driveList.push_back(std::move(drive));
    return driveList.back();
}

FakeDrive* FakePlatform::findDrive(const std::string& letter)
{
    for (FakeDrive& drive : driveList)
        if (upper(drive.letter) == upper(letter))
            return &drive;
    return nullptr;
}

std::uint64_t FakePlatform::storedBytes() const
{
    std::uint64_t total = 0;
    for (const auto& [path, content] : files)
        total += content.size();
    return total;
}

std::vector<DriveInfo> FakePlatform::drives()
{
    std::vector<DriveInfo> list;
    for (const FakeDrive& drive : driveList)
        list.push_back({drive.letter, drive.type, drive.rootFolder, drive.details});
    return list;
}

std::optional<DiskFreeSpace> FakePlatform::diskFreeSpace(const std::string& rootPath)
{
    freeSpaceQueries.push_back(rootPath);
    if (rootPath.size() != 3 || rootPath[1] != ':' || rootPath[2] != separator)
        return std::nullopt;
    const FakeDrive* drive = findDrive(rootPath.substr(0, 1));
    return drive ? drive->freeSpace : std::nullopt;
}

std::unique_ptr<DeviceHandle> FakePlatform::openDevice(const std::string& deviceName)
{
    openedDevices.push_back(deviceName);
    if (deviceName == "\\\\.\\VWIN32")
        return platformId == kPlatformWin9x ? std::make_unique<FakeVwin32Handle>(*this) : nullptr;
    const std::string prefix = "\\\\.\\";
    if (deviceName.size() != prefix.size() + 2 || deviceName.compare(0, 4, prefix) != 0 ||
        deviceName.back() != ':')
        return nullptr;
    const std::string letter = deviceName.substr(4, 1);
    const FakeDrive* drive = findDrive(letter);
    if (!drive || !drive->canOpen)
        return nullptr;
    return std::make_unique<FakeVolumeHandle>(*this, letter, drive->readAheadBytes);
}

bool FakePlatform::createFolder(const std::string& path)
{
    createdFolders.push_back(path);
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == separator)
        trimmed.pop_back();
    if (folders.count(trimmed) || !folders.count(parentOf(trimmed, separator)))
        return false;
    folders.insert(trimmed);
    return true;
}

std::unique_ptr<OutputFolder> FakePlatform::openOutputFolder(const std::string& path)
{
    openedFolders.push_back(path);
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == separator)
        trimmed.pop_back();
    if (!folders.count(trimmed))
        return nullptr;
    return std::make_unique<FakeOutputFolder>(*this, trimmed);
}

bool FakePlatform::folderLiesOnDrive(const std::string& folder, const std::string& driveLetter)
{
    auto trimmed = [&](std::string path) {
        while (!path.empty() && path.back() == separator)
            path.pop_back();
        return path;
    };
    const std::string inFolder = trimmed(folder);
    const FakeDrive* holder = nullptr;
    std::size_t holderLength = 0;
    for (const FakeDrive& drive : driveList) {
        if (drive.rootFolder.empty())
            continue;
        const std::string root = trimmed(drive.rootFolder);
        const bool holds = inFolder == root || inFolder.starts_with(root + separator);
        if (holds && (!holder || root.size() >= holderLength)) {
            holder = &drive;
            holderLength = root.size();
        }
    }
    return holder && upper(holder->letter) == upper(driveLetter);
}

bool FakePlatform::startRead(FakeDrive& drive, std::uint64_t byteOffset)
{
    const std::uint64_t readNumber = readCount_++;
    if (beforeRead)
        beforeRead(readNumber);
    const std::uint64_t sectorBytes = drive.sectorBytes ? drive.sectorBytes : 1;
    sectorsRead.push_back(byteOffset / sectorBytes);
    return !(drive.vanishAfterReads && readNumber >= *drive.vanishAfterReads);
}

ReadAnswer FakePlatform::volumeBytes(const FakeDrive& drive, std::uint64_t byteOffset,
                                     std::uint8_t* into, std::uint32_t byteCount)
{
    const std::uint64_t sectorBytes = drive.sectorBytes ? drive.sectorBytes : 1;
    const std::uint64_t first = byteOffset / sectorBytes;
    const std::uint64_t last =
        (byteOffset + std::max<std::uint32_t>(byteCount, 1) - 1) / sectorBytes;
    // Like a disk, the bytes before the first bad sector arrive; the rest do not.
    ReadAnswer answer;
    std::uint64_t readable = byteCount;
    for (std::uint64_t s : drive.unreadableSectors)
        if (s >= first && s <= last) {
            answer.failure = ReadFailure::Unreadable;
            readable =
                std::min(readable, s * sectorBytes > byteOffset ? s * sectorBytes - byteOffset : 0);
        }
    std::uint64_t available =
        byteOffset < drive.volumeBytes.size() ? drive.volumeBytes.size() - byteOffset : 0;
    available = std::min(available, readable);
    if (available)
        std::memcpy(into, drive.volumeBytes.data() + byteOffset, available);
    answer.bytes = std::uint32_t(available);
    return answer;
}

bool FakePlatform::readSector(FakeDrive& drive, std::uint64_t byteOffset, std::uint8_t* into,
                              std::uint32_t byteCount, std::uint32_t& transferred)
{
    transferred = 0;
    if (!startRead(drive, byteOffset))
        return false;
    const ReadAnswer answer = volumeBytes(drive, byteOffset, into, byteCount);
    if (answer.failure != ReadFailure::None)
        return false;
    transferred = answer.bytes;
    if (drive.shortReadBytes)
        transferred = std::min(transferred, *drive.shortReadBytes);
    return true;
}

} // namespace velo
