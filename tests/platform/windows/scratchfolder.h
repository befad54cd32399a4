#pragma once

// A folder of its own for one test, in the Windows temporary folder, removed with all it
// holds at the end; and whole-file reads and writes for checking what landed there.

#include "tests/platform/windows/driveimage.h"

#include <string>

namespace velo::testing
{

struct ScratchFolder {
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // The folder's path followed by name, with the separator between.
    std::string operator/(const std::string& name) const { return path + "\\" + name; }

    std::string path; // no trailing separator
};

// Empty when the file cannot be read.
Bytes readFileBytes(const std::string& path);
bool writeFileBytes(const std::string& path, const Bytes& bytes);

} // namespace velo::testing
