// Fuzzing of the rule that reads the JPEG structure; the checks are in jpegrulecheck.h.
// A fault aborts, so libFuzzer keeps the input as a crash file.

#include "tests/support/jpegrulecheck.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (const auto fault = velo::fuzzing::jpegRuleFault(data, size)) {
        std::fprintf(stderr, "jpeg rule: %s\n", fault->c_str());
        std::abort();
    }
    return 0;
}
