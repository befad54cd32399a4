#pragma once

#include <atomic>
#include <cstdint>

namespace velo::windows_backend
{

// Ctrl-C and Ctrl-Break in the console set `flag` to 1, once: the next one gets Windows'
// own handling, which ends the program at once. Closing the console window, logging off
// and shutting down are left to Windows, which ends the program after its handlers return
// whatever they do. Returns false when the handler could not be installed.
//
// Windows runs the handler on a thread of its own, so the program reads the flag while
// another thread may write it.
bool installConsoleStopHandler(std::atomic<bool>& flag);

// The handler's decision for one console event: true when the event was taken as a stop
// request. Installed by the function above; here for tests.
bool onConsoleControl(std::uint32_t event);

} // namespace velo::windows_backend
