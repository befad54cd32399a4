#pragma once

// Helpers shared by the fault tests: a volume of sectors with streams planted in it, the
// files the byte-at-a-time model carves from the sectors that a scan really receives, and
// scratch folders and loop-mounted file systems on the real machine.

#include "scan/recoveryscan.h"
#include "tests/scan/naivecarver.h"
#include "tests/scan/scanhoststub.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace velo::reliability
{

using Bytes = std::vector<std::uint8_t>;

// Sectors of non-zero filler; stream() plants a start at the first sector and an end
// marker (FF D9 and eleven zeros) inside the last.
struct Volume {
    std::size_t sectorBytes;
    Bytes bytes;

    Volume(std::size_t sectors, std::size_t sectorBytes);
    void stream(std::size_t first, std::size_t last, std::size_t endAt = 200);
    Bytes sector(std::size_t i) const;
};

// The model's files for the sectors whose numbers are in `read` (in order), each cut to
// the length in `lengths` when it has one.
std::map<std::uint64_t, Bytes> modelFiles(const Volume& v, const std::vector<std::size_t>& read,
                                          const std::map<std::size_t, std::size_t>& lengths = {});

std::vector<std::size_t> range(std::size_t first, std::size_t end,
                               std::set<std::size_t> except = {});

using TestHost = testing::ScanHostStub;

// "DD001.JPG" and so on.
std::string outputName(std::uint64_t number);

// A folder under /tmp that is removed with everything in it.
struct ScratchDir {
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::filesystem::path path;
};

Bytes readFileBytes(const std::filesystem::path& path);
void writeFileBytes(const std::filesystem::path& path, const Bytes& bytes);

// Runs a shell command; its exit status.
int run(const std::string& command);

// A file system image of the given size made with mkfs (ext2 or vfat), attached to a loop
// device and mounted at a folder of its own; read-only when asked. Everything is undone
// in the destructor. ok() is false, with the reason in why(), where this machine does not
// allow it (no root, no loop devices, no mkfs).
class LoopMount
{
public:
    LoopMount(std::uint64_t bytes, const std::string& fsType, bool readOnly = false);
    ~LoopMount();
    LoopMount(const LoopMount&) = delete;
    LoopMount& operator=(const LoopMount&) = delete;
    bool ok() const { return ok_; }
    const std::string& why() const { return why_; }
    const std::filesystem::path& mountPoint() const { return mountPoint_; }

private:
    ScratchDir dir_;
    std::filesystem::path mountPoint_;
    bool mounted_ = false;
    bool ok_ = false;
    std::string why_;
};

// A read-only loop device over an image file (no file system needed): the path of the
// device, or empty with the reason in why().
class ReadOnlyLoopDevice
{
public:
    explicit ReadOnlyLoopDevice(const std::filesystem::path& image);
    ~ReadOnlyLoopDevice();
    ReadOnlyLoopDevice(const ReadOnlyLoopDevice&) = delete;
    ReadOnlyLoopDevice& operator=(const ReadOnlyLoopDevice&) = delete;
    const std::string& device() const { return device_; }
    const std::string& why() const { return why_; }

private:
    std::string device_;
    std::string why_;
};

// A block device with bad sectors: an image served by the test file system
// tests/reliability/badsectorfs.cpp, which fails every read that touches one of the
// chosen 512-byte sectors ("50,51,700" or ranges "0-99"), attached read-only through a
// loop device whose reads of the file go through the page cache, as a disk's do.
// device() is empty, with the reason in why(), where the machine has no /dev/fuse, no
// loop devices or no root. Everything is detached and unmounted in the destructor.
class BadSectorDevice
{
public:
    BadSectorDevice(const Bytes& image, const std::string& badSectors);
    ~BadSectorDevice();
    BadSectorDevice(const BadSectorDevice&) = delete;
    BadSectorDevice& operator=(const BadSectorDevice&) = delete;
    const std::string& device() const { return device_; }
    const std::string& why() const { return why_; }

private:
    ScratchDir dir_;
    int server_ = -1; // the file system's process
    bool mounted_ = false;
    std::string device_;
    std::string why_;
};

} // namespace velo::reliability
