#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace velo::cli
{

// Whether a name is one this program gives its files: "DD", three or more digits, ".JPG".
bool isCarvedFileName(const std::string& name);

// Whether the folder holds a file from an earlier run. A missing folder holds none.
bool holdsEarlierRun(const std::string& folder);

// Why the folder cannot take the output, or "" when it can (it exists as a folder, or
// does not exist yet). Creates nothing.
std::string outdirProblem(const std::string& folder);

// Whether path names a file in folder (which need not exist yet) with a name this
// program gives its files, so that a run into folder may replace it.
bool namesCarvedFileIn(const std::string& path, const std::string& folder);

// The loop devices (their numbers) whose backing file is this image, as sysfs shows them
// under sysBlock.
std::vector<dev_t> loopDevicesBackedBy(const std::string& image,
                                       const std::string& sysBlock = "/sys/block");

// Creates the folder and any missing parents; "" on success, else why not.
std::string createFolders(const std::string& folder);

// Whether writing into folder (which need not exist yet: its nearest existing parent
// counts) would write to the block device `device` itself, to one of its partitions, or
// to a device stacked on it (LVM, dm-crypt, md), as sysfs shows them under sysfsDevBlock.
bool writesToDevice(const std::string& folder, dev_t device,
                    const std::string& sysfsDevBlock = "/sys/dev/block");

} // namespace velo::cli
