#pragma once

// Helpers shared by the velo-carve tests: images of photos, and running the built program.

#include "tests/support/files.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace velo::cli::testing
{

using namespace velo::testing;

// Whether the carving rule gives this photo back whole when it starts a sector and zeros
// follow it: it ends in FF D9, holds no FF D9 with eleven zeros after it (a thumbnail
// padded with zeros does), and has no FF D8 FF at a multiple of 512.
bool carvesWhole(const Bytes& photo);

// The first `count` test photos that carve whole.
std::vector<Bytes> wholeCarvingPhotos(std::size_t count);

// Sectors of 512 bytes whose first byte is never FF, so that no sector of it opens a file.
Bytes filler(std::size_t sectors, std::uint32_t seed);

// Appends bytes, then zeros up to the next multiple of 512.
void appendPadded(Bytes& image, const Bytes& bytes);

struct RunResult {
    int exitStatus = -1; // 128 + N when ended by signal N, as a shell shows it
    int endedBySignal = 0;
    std::string errorOutput;
    std::string standardOutput;
};

// Where the program's standard output goes: a file whose text comes back in the result,
// or a pipe whose reader has gone away (as with `| head -1` once head is done).
enum class StandardOutput { Captured, ClosedPipe };

// Runs the built velo-carve with these arguments and waits for it, after `whileRunning`
// (given its process id) has returned. It starts with the default action for every
// signal, as from a shell.
RunResult runVeloCarve(const std::vector<std::string>& args,
                       StandardOutput standardOutput = StandardOutput::Captured,
                       const std::function<void(int pid)>& whileRunning = nullptr);

} // namespace velo::cli::testing
