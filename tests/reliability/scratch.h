#pragma once

// Helpers shared by the fault tests: a block device with bad sectors on the real machine.

#include "scan/recoveryscan.h"
#include "tests/support/files.h"
#include "tests/support/mounts.h"
#include "tests/support/scanhoststub.h"
#include "tests/support/volume.h"

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

using namespace velo::testing;

using TestHost = testing::ScanHostStub;

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
    const std::string& device() const;
    const std::string& why() const { return loop_ ? loop_->why() : why_; }

private:
    ScratchDir dir_;
    int server_ = -1; // the file system's process
    bool mounted_ = false;
    std::optional<ReadOnlyLoopDevice> loop_;
    std::string why_;
};

} // namespace velo::reliability
