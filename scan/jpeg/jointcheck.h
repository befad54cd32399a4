#pragma once

#include "scan/jpeg/cardbytes.h"
#include "scan/jpeg/dctrace.h"
#include "scan/jpeg/layout.h"
#include "scan/jpeg/walkstate.h"

#include <cstdint>
#include <deque>
#include <vector>

namespace velo::jpeg
{

// Whether the picture goes on across a joint between two pieces of a file.
enum class JointFit {
    Fits,    // the rows on both sides of the joint differ no more than rows elsewhere
    Jumps,   // the rows below the joint do not belong under the rows above it
    Unknown, // too few rows on one side to tell (or a joint outside the image data)
};

// What checkJoint() may read, and what it did.
struct JointCheck {
    std::uint64_t maxFileBytes = 256ull << 20;
    bool testPlainSectors = true;
    std::uint64_t work = 0; // Walker::work() of its walk, added to
};

// Entropy-coded data of another photo from the same camera decodes as cleanly as the
// photo's own, with the same tables: only the picture tells them apart. The walk is taken
// again from a point (one of `points`, the walk's resume points before the joint) at least
// an MCU row before the joint at logical offset `joint` of the file laid out by `layout`,
// through the joint and three rows past it, keeping the DC value of every MCU (the image at
// 1/8 scale or coarser). Each MCU row is compared with the row above it: across the joint,
// and on each side of it.
JointFit checkJoint(CardBytes& card, const Layout& layout, std::uint64_t joint,
                    const std::deque<WalkState>& points, JointCheck& check);

// The picture just above a joint, read once for every candidate tried after it: the DC
// values of the MCUs of the last row before it, and how much rows differ there.
struct PictureAbove {
    std::uint64_t row = 0;      // MCUs per row; 0: nothing can be told
    std::uint64_t firstMcu = 0; // the MCU of dc[0]
    std::uint64_t lastMcu = 0;  // the last MCU whole before the joint, less the margin
    std::vector<std::int32_t> dc;
    double detail = 0; // the mean difference between an MCU and the one above it
};

// Reads the picture above the joint at logical offset `joint` of the file laid out by
// `layout` (which holds it), from one of `points` a row before it.
PictureAbove pictureAbove(CardBytes& card, const Layout& layout, std::uint64_t joint,
                          const std::deque<WalkState>& points, JointCheck& check);

// Whether the MCUs a candidate's walk traced past the joint plainly do not belong under the
// row above it: a cheap first look, made before checkJoint(), that leaves anything the
// photo's own subject could explain to it.
bool plainlyJumps(const PictureAbove& above, const DcTrace& below, std::uint64_t joint);

} // namespace velo::jpeg
