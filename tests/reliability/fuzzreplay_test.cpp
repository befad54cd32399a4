// The fuzz targets' differential checks, run on every input that is checked in: the seed
// corpus (one input per situation the rule must get right) and, under fuzz/regressions,
// every input a fuzzing run ever failed on. A thousand generated inputs run too, so
// that the check does not wait for someone to run the fuzzer.

#include "tests/support/carverscenario.h"
#include "tests/support/files.h"
#include "tests/support/jpegrulecheck.h"
#include "tests/support/scanscenario.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

namespace velo::fuzzing
{
namespace
{

namespace fs = std::filesystem;

std::vector<fs::path> inputsIn(const fs::path& folder)
{
    std::vector<fs::path> paths;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file())
            paths.push_back(it->path());
    std::sort(paths.begin(), paths.end());
    return paths;
}

const fs::path kFuzz = fs::path(VELO_SOURCE_DIR) / "fuzz";

// The seeds of one fuzz target and every input it was once caught failing on.
std::vector<fs::path> checkedInInputs(const std::string& target, std::size_t leastSeeds)
{
    auto inputs = inputsIn(kFuzz / "corpus" / target);
    EXPECT_GE(inputs.size(), leastSeeds) << "the seed corpus of " << target << " is missing";
    for (const auto& path : inputsIn(kFuzz / "regressions" / target))
        inputs.push_back(path);
    return inputs;
}

// Each fuzz target's checks, run on its seeds and on every input it was once caught
// failing on: the first fault, or nothing.
struct Target {
    const char* name;
    std::size_t leastSeeds;
    std::optional<std::string> (*fault)(const std::uint8_t* data, std::size_t size);
};

void PrintTo(const Target& t, std::ostream* out)
{
    *out << t.name;
}

class FuzzReplay : public ::testing::TestWithParam<Target>
{
};

TEST_P(FuzzReplay, EveryCheckedInInputPasses)
{
    for (const auto& path : checkedInInputs(GetParam().name, GetParam().leastSeeds)) {
        const Bytes input = testing::readFile(path);
        const auto fault = GetParam().fault(input.data(), input.size());
        EXPECT_FALSE(fault) << path.filename() << ": " << *fault;
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay,
                         ::testing::Values(Target{"carver", 10,
                                                  [](const std::uint8_t* data, std::size_t size) {
                                                      return carveDifference(
                                                          decodeScenario(data, size));
                                                  }},
                                           Target{"scan", 5, scanDifference},
                                           Target{"jpegrule", 5, jpegRuleFault}),
                         [](const auto& info) { return std::string(info.param.name); });

// Inputs made of the bytes the decoder gives most meaning to, so that most of them
// plant markers, failures and short reads.
TEST(FuzzGenerated, InputsAgreeWithTheModel)
{
    std::mt19937 random(1207);
    for (int round = 0; round < 1000; ++round) {
        Bytes input(8 + random() % 120);
        for (auto& b : input)
            b = random() % 4 == 0 ? std::uint8_t(random() % 12) : std::uint8_t(random());
        const auto carve = carveDifference(decodeScenario(input.data(), input.size()));
        ASSERT_FALSE(carve) << "round " << round << ": " << *carve;
        const auto scan = scanDifference(input.data(), input.size());
        ASSERT_FALSE(scan) << "round " << round << ": " << *scan;
    }
}

} // namespace
} // namespace velo::fuzzing
