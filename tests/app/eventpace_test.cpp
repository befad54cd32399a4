// When the window's event step asks the system for input: at the first step, then only
// once the interval has passed since it last asked, counted from that ask and not from
// the steps skipped in between.

#include "app/eventpace.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace velo
{
namespace
{

using std::chrono::microseconds;

struct PaceCase {
    const char* name;
    std::vector<std::pair<microseconds, bool>> steps; // time of each step, and whether it asks
};

class EventPaceRows : public ::testing::TestWithParam<PaceCase>
{
};

TEST_P(EventPaceRows, AsksAtTheFirstStepThenOncePerInterval)
{
    static_assert(EventPace::kInterval == microseconds(4000));
    EventPace pace;
    const EventPace::Clock::time_point start{std::chrono::hours(1)};
    for (const auto& [at, asks] : GetParam().steps)
        EXPECT_EQ(pace.due(start + at), asks) << "at " << at.count() << " us";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, EventPaceRows,
    ::testing::Values(
        // A scan's steps a microsecond apart: asked at 0, 4000, 8000 and never between.
        PaceCase{"StepsCloseTogether",
                 {{microseconds(0), true},
                  {microseconds(1), false},
                  {microseconds(3999), false},
                  {microseconds(4000), true},
                  {microseconds(7999), false},
                  {microseconds(8000), true}}},
        // A step late after a slow one (a file being made) asks at once, and the next
        // interval counts from there.
        PaceCase{"LateStepRestartsTheInterval",
                 {{microseconds(0), true},
                  {microseconds(25000), true},
                  {microseconds(28999), false},
                  {microseconds(29000), true}}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace velo
