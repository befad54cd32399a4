#pragma once

#include "scan/carver.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace velo::testing
{

// Collects what a carver decides: the files by number, why each was closed, and the
// closes since the last take(). The first call out of order (a file opened while another
// is open or with a number that does not go up, bytes or a close with no file open) is
// kept in `fault`.
struct CarveRecorder : CarveEvents {
    std::map<std::uint64_t, std::vector<std::uint8_t>> files;
    std::map<std::uint64_t, CloseReason> closeReasons;
    std::vector<CloseReason> closes;
    std::uint64_t current = 0; // numbers start at 1
    bool open = false;
    std::string fault;

    void openFile(std::uint64_t n) override
    {
        if (open)
            note("file " + std::to_string(n) + " opened while " + std::to_string(current) +
                 " was still open");
        if (n <= current)
            note("file number " + std::to_string(n) + " does not go up");
        current = n;
        open = true;
        files[n].clear();
    }
    void append(std::span<const std::uint8_t> bytes) override
    {
        if (!open)
            note("bytes appended with no file open");
        files[current].insert(files[current].end(), bytes.begin(), bytes.end());
    }
    void closeFile(CloseReason reason) override
    {
        if (!open)
            note("close with no file open");
        closeReasons[current] = reason;
        closes.push_back(reason);
        open = false;
    }
    std::vector<CloseReason> take() { return std::exchange(closes, {}); }
    void note(const std::string& what)
    {
        if (fault.empty())
            fault = what;
    }
};

} // namespace velo::testing
