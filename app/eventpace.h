#pragma once

#include <chrono>

namespace velo
{

// When the window's event step asks the system for input. The scan runs the step once
// per sector, millions of times a second, and asking the system costs a system call
// each time; a click or a repaint needs an answer within a screen frame, not within a
// sector. So the system is asked at the first step and then whenever kInterval has
// passed since it was last asked, by a monotonic clock.
class EventPace
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kInterval{4}; // a quarter of a 60 Hz frame

    // Whether to ask the system at `now`; when it says yes, the interval starts again.
    bool due(Clock::time_point now)
    {
        if (asked_ && now - lastAsked_ < kInterval)
            return false;
        asked_ = true;
        lastAsked_ = now;
        return true;
    }

private:
    bool asked_ = false;
    Clock::time_point lastAsked_{};
};

} // namespace velo
