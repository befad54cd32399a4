// Differential fuzzing of the scan loop on the fake machine: the files that the scan
// leaves must be what the byte-at-a-time model carves from the sectors that were really
// read, cut only where the disk filled up, whatever faults the input chose.

#include "tests/support/scanscenario.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (const auto difference = velo::fuzzing::scanDifference(data, size)) {
        std::fprintf(stderr, "scan and model disagree: %s\n", difference->c_str());
        std::abort();
    }
    return 0;
}
