#pragma once

#include "scan/jpeg/cardbytes.h"
#include "scan/jpeg/layout.h"
#include "scan/jpeg/walkstate.h"

#include <cstdint>
#include <deque>

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

} // namespace velo::jpeg
