#pragma once

#include "scan/carver.h"

#include <cstdint>
#include <map>
#include <vector>

namespace velo::testing
{

// Collects what a carver decides: the files by number and why each was closed.
struct CarveRecorder : CarveEvents {
    std::map<std::uint64_t, std::vector<std::uint8_t>> files;
    std::map<std::uint64_t, CloseReason> closeReasons;
    std::uint64_t current = 0;
    bool open = false;

    void openFile(std::uint64_t n) override
    {
        current = n;
        open = true;
        files[n].clear();
    }
    void append(std::span<const std::uint8_t> bytes) override
    {
        files[current].insert(files[current].end(), bytes.begin(), bytes.end());
    }
    void closeFile(CloseReason reason) override
    {
        closeReasons[current] = reason;
        open = false;
    }
};

} // namespace velo::testing
