#include "platform/windows/consolestop.h"

#include <atomic>
#include <windows.h>

namespace velo::windows_backend
{

namespace
{
std::atomic<std::atomic<bool>*> stopFlag{nullptr};
std::atomic<bool> stopRequested{false};

BOOL WINAPI consoleHandler(DWORD event)
{
    return onConsoleControl(event) ? TRUE : FALSE;
}
} // namespace

bool onConsoleControl(std::uint32_t event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return false;
    if (stopRequested.exchange(true))
        return false; // the second one: Windows ends the program
    if (std::atomic<bool>* flag = stopFlag.load())
        flag->store(true); // from the console's own thread: seen by the carve's
    return true;
}

bool installConsoleStopHandler(std::atomic<bool>& flag)
{
    stopFlag.store(&flag);
    stopRequested.store(false);
    return ::SetConsoleCtrlHandler(consoleHandler, TRUE) != 0;
}

} // namespace velo::windows_backend
