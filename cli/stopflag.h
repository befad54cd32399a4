#pragma once

#include <csignal>

namespace velo
{

// velo-carve's stop: set by its stop handlers (Ctrl-C), looked at by the carve loop
// between chunks.
inline volatile std::sig_atomic_t stopFlag = 0;

} // namespace velo
