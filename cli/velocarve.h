#pragma once

#include "platform/platform.h"

#include <span>
#include <string>

namespace velo::cli
{

inline constexpr int kExitDone = 0;
inline constexpr int kExitIncomplete = 1; // unreadable sectors or files not written whole
inline constexpr int kExitUsage = 2;      // bad usage, or a source that cannot be opened
inline constexpr int kExitStopped = 130;  // Ctrl-C (SIGINT), or SIGTERM

// The whole program after argument splitting: checks, carve, report, summary. Output
// files come from platform.
int runVeloCarve(std::span<const std::string> args, Platform& platform);

} // namespace velo::cli
