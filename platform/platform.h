#pragma once

#include "platform/drivetype.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace velo
{

// Platform identifiers as the operating system's version query reports them.
inline constexpr std::uint32_t kPlatformWin9x = 1; // Windows 95/98/Me family
inline constexpr std::uint32_t kPlatformNt = 2;    // Windows NT family (and Linux)

// What stands behind a drive letter, for a user telling drives apart. Each field is empty
// when the system does not know it.
struct DriveDetails {
    std::string device;                     // "/dev/sdb1"; a share's source, "server:/photos"
    std::optional<std::uint64_t> sizeBytes; // the whole volume, not its free space
    std::string model; // the device's name for itself; for a disk image, the image file
};

// One drive as the system lists it: a description, not an open thing.
struct DriveInfo {
    std::string letter; // one letter, no colon, no separator
    DriveType type = DriveType::Unknown;
    std::string rootFolder; // where its files can be browsed; empty when nothing is mounted
    std::optional<DriveDetails> details{}; // empty where the system describes no more
};

// The four values of a free-space query. 64-bit: large volumes must not wrap.
struct DiskFreeSpace {
    std::int64_t sectorsPerCluster = 0;
    std::int64_t bytesPerSector = 0;
    std::int64_t freeClusters = 0;
    std::int64_t totalClusters = 0;
};

// An open device, the thing raw reads come from.
class DeviceHandle
{
public:
    virtual ~DeviceHandle() = default;

    // Reads up to byteCount bytes from the current position into `into` and moves the
    // position on by byteCount, whether or not the read succeeded, so that a bad sector
    // never shifts the sectors after it. bytesTransferred receives what was really read.
    virtual bool read(std::uint8_t* into, std::uint32_t byteCount,
                      std::uint32_t& bytesTransferred) = 0;

    // A device-control request. A 64-bit process cannot hand a 32-bit register block a
    // pointer, so the memory that the block's addresses refer to travels alongside as
    // callerMemory; a device checks that the address it is given names that memory.
    virtual bool control(std::uint32_t controlCode, std::span<const std::uint8_t> input,
                         std::span<std::uint8_t> output, std::uint32_t& bytesReturned,
                         std::span<std::uint8_t> callerMemory) = 0;
};

// A file being written from its first byte. Once a write has failed the file accepts
// nothing more, so it always holds an exact prefix of what was handed to it.
class OutputFile
{
public:
    virtual ~OutputFile() = default;
    virtual bool write(std::span<const std::uint8_t> bytes) = 0;
    // Flushes and closes; whether every byte handed over reached the system. A second
    // close does nothing and says the same.
    virtual bool close() = 0;
    // The modification time (seconds since 1970) the file is to keep: set at close, after
    // the last byte, so that no write changes it again. A time the system refuses is let
    // go; the bytes are what counts.
    virtual void keepModifiedTime(std::int64_t unixSeconds) = 0;
};

// Why a file could not be created.
enum class CreateFailure {
    None,
    NameTaken, // something has the name and was not to be replaced, or came back at once
    NoSpace,   // the output is out of space or of inodes, or over its quota
    Other,
};

// Whether a file being created may take the name of something that is there already.
enum class IfNameTaken {
    Fail,    // create a new file or nothing
    Replace, // remove the old name first (a link is removed, never written through)
};

// A folder opened once, in which output files are made by plain name (no separator).
// Whatever happens to the folder's path afterwards, files go into the folder that was
// opened. A file is only ever created new: nothing that is there already, nor what a
// link points at, is ever written to.
class OutputFolder
{
public:
    virtual ~OutputFolder() = default;
    // An empty pointer when the file could not be created; `failure` says why.
    virtual std::unique_ptr<OutputFile> createFile(const std::string& name, IfNameTaken ifTaken,
                                                   CreateFailure& failure) = 0;
    // Takes a lock on the folder that another holder's lock excludes, for as long as this
    // object lives; false when someone else holds it.
    virtual bool lockExclusive() = 0;
};

// The services of the operating system that the program uses, and nothing else.
class Platform
{
public:
    virtual ~Platform() = default;

    virtual std::uint32_t platformIdentifier() = 0;
    virtual std::vector<DriveInfo> drives() = 0;
    // rootPath is a letter followed by ":" and the separator ("C:\"); empty on failure.
    virtual std::optional<DiskFreeSpace> diskFreeSpace(const std::string& rootPath) = 0;
    // deviceName is "\\.\X:" or "\\.\VWIN32"; an empty pointer means the open failed.
    virtual std::unique_ptr<DeviceHandle> openDevice(const std::string& deviceName) = 0;
    virtual std::string programFolder() = 0;
    virtual char pathSeparator() const = 0;
    virtual bool createFolder(const std::string& path) = 0;
    // Opens an existing folder for making output files in; an empty pointer when it can't.
    virtual std::unique_ptr<OutputFolder> openOutputFolder(const std::string& path) = 0;
    // Whether files made in folder (which need not exist yet: its nearest existing parent
    // counts) would be written onto the volume that opening the drive's device reads, so
    // that saving there could overwrite what a scan of it is still to find.
    virtual bool folderLiesOnDrive(const std::string& folder, const std::string& driveLetter) = 0;
};

// The backend of the system this program is built for: Linux or Windows, whichever of the
// two the build links in (velo_platform_native).
std::unique_ptr<Platform> nativePlatform();

} // namespace velo
