#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace velo::cli
{

// A small picture of a carved photo for the contact sheet: the photo decoded at 1/8 of its
// size (a photo too small for that to fill a box of kLargestSide pixels, at 2/8, 3/8, ...
// up to its whole size), shrunk further to fit the box, and encoded again as a JPEG.
// Whatever the bytes, making one never aborts the program and its cost is bounded: at
// most kMostInputBytes are given, a photo that declares more than kMostPixels is not
// decoded, the decoder may hold at most kMostDecoderBytes, and a progressive photo is
// read for at most kMostScans scans.
struct Thumbnail {
    enum class Outcome {
        Whole,      // the photo decoded without a complaint
        WithErrors, // it decoded, but its data is damaged or ends early; what is missing is
                    // grey, so a truncated photo shows how far it goes; `note` says what
        Failed,     // no picture could be made; `note` says why
        Skipped,    // none was made: this build has no JPEG decoder, or the run was stopped
    };

    static constexpr int kLargestSide = 200;
    static constexpr std::size_t kMostInputBytes = std::size_t(64) << 20;
    static constexpr std::uint64_t kMostPixels = 100'000'000;
    static constexpr long kMostDecoderBytes = 256L << 20;
    static constexpr int kMostScans = 256;

    // Whether this build can make thumbnails at all.
    static bool decoderBuiltIn();
    // The thumbnail of a photo's bytes (the first kMostInputBytes of its file).
    static Thumbnail of(std::span<const std::uint8_t> photo);

    Outcome outcome = Outcome::Failed;
    std::vector<std::uint8_t> jpeg; // the small JPEG file; empty unless Whole or WithErrors
    int width = 0;                  // of the thumbnail, in pixels
    int height = 0;
    std::string note; // the decoder's words for the first problem; empty when Whole
};

} // namespace velo::cli
