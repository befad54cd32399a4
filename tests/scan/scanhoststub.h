#pragma once

#include "scan/recoveryscan.h"

#include <cstdint>
#include <functional>
#include <string>

namespace velo::testing
{

// The window's part in a scan, for tests and fuzzers: it keeps the last pass shown and
// how many were, and lets the test act in the event step, where a real window would
// handle a stop click or a change of the save folder.
struct ScanHostStub : ScanHost {
    std::string folder = "/save/";
    std::uint64_t pass = 0;
    std::uint64_t passesShown = 0;
    bool stop = false; // what the stop command sets; the scan asks after the event step
    std::function<void(std::uint64_t pass)> duringEvents;

    void showPass(std::uint64_t p) override
    {
        pass = p;
        ++passesShown;
    }
    void runPendingEvents() override
    {
        if (duringEvents)
            duringEvents(pass);
    }
    bool stopRequested() override { return stop; }
    std::string saveFolder() override { return folder; }
};

} // namespace velo::testing
