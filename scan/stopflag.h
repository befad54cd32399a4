#pragma once

#include <csignal>

namespace velo
{

// Program-wide: the scan clears it when it starts, the stop command sets it to 1, and
// the scan looks at it once per pass, before the read. A signal handler may set it too.
inline volatile std::sig_atomic_t stopFlag = 0;

} // namespace velo
