#pragma once

#include "scan/jpeg/cardbytes.h"
#include "scan/jpeg/walker.h"

#include <cstdint>
#include <deque>
#include <functional>

namespace velo::jpeg
{

// How often a first walk keeps a copy of its state for the gap search, and how many.
struct ResumeSpacing {
    std::uint64_t everyBytes = 0;
    std::size_t count = 0;
    bool operator==(const ResumeSpacing&) const = default;
};

// What the first walk of a file, from its start marker with the sector test on, found.
struct FirstWalk {
    Outcome outcome = Outcome::Running; // Running: given up before its outcome was known
    BreakCause cause = BreakCause::None;
    std::uint64_t length = 0;  // for Complete
    std::uint64_t breakAt = 0; // for Broken and DataEnd; for Running, how far it got
    bool unreadable = false;
    bool decodedAll = true;
    std::uint32_t segments = 0;
    std::uint64_t work = 0; // Walker::work()
    ResumeSpacing spacing;
    std::deque<WalkState> resumePoints; // kept only when the walk broke
};

// Walks the file that starts at card offset `start` until its outcome is known. Asks
// `giveUp` every few MiB and gives up (outcome Running) once it says so.
FirstWalk walkFirst(CardBytes& card, std::uint64_t start, std::uint64_t maxFileBytes,
                    bool testPlain, ResumeSpacing spacing,
                    const std::function<bool()>& giveUp = {});

} // namespace velo::jpeg
