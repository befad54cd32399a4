#pragma once

#include <atomic>

namespace velo
{

// velo-carve's stop: set by its stop handlers (Ctrl-C, SIGTERM), from a signal handler or,
// on Windows, from the console's own thread; read by the carve between sectors and by the
// JPEG rule within a file's walk and search. An atomic, so that the store is seen there.
inline std::atomic<bool> stopFlag = false;

} // namespace velo
