#include "platform/windows/consolestop.h"

#include <atomic>
#include <windows.h>

namespace velo::windows_backend
{

namespace
{
std::atomic<volatile std::sig_atomic_t*> stopFlag{nullptr};
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
    if (volatile std::sig_atomic_t* flag = stopFlag.load())
        *flag = 1;
    return true;
}

bool installConsoleStopHandler(volatile std::sig_atomic_t& flag)
{
    stopFlag.store(&flag);
    stopRequested.store(false);
    return ::SetConsoleCtrlHandler(consoleHandler, TRUE) != 0;
}

} // namespace velo::windows_backend
