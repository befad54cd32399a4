// Differential fuzzing of the carving rule: every input is decoded into a scenario and
// the real carver must carve exactly what the byte-at-a-time model carves. Any
// disagreement aborts, so libFuzzer keeps the input as a crash file.

#include "tests/support/carverscenario.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const velo::fuzzing::Scenario scenario = velo::fuzzing::decodeScenario(data, size);
    if (const auto difference = velo::fuzzing::carveDifference(scenario)) {
        std::fprintf(stderr, "carver and model disagree: %s\n", difference->c_str());
        std::abort();
    }
    return 0;
}
