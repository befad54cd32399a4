#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

namespace velo::jpeg
{

// Where a file's bytes lie on the card, piece after piece: logical offset x is card offset
// start + x up to the first jump; from a jump's logical offset on, the file goes on at the
// jump's card offset. Jumps come in the order of their logical offsets.
class Layout
{
public:
    static constexpr std::uint64_t kNoEnd = std::numeric_limits<std::uint64_t>::max();

    struct Jump {
        std::uint64_t logical = 0; // where in the file the piece begins
        std::uint64_t card = 0;    // where on the card it begins
        bool operator==(const Jump&) const = default;
    };

    Layout() = default;
    explicit Layout(std::uint64_t start) : start_(start) {}

    // The file goes on at card offset `card` from logical offset `logical` on; `logical`
    // lies past the last jump. A file cut further back than that is first trimmed().
    void jump(std::uint64_t logical, std::uint64_t card) { jumps_.push_back({logical, card}); }
    // The layout with only the jumps before logical offset `logical`.
    Layout trimmed(std::uint64_t logical) const
    {
        Layout t(start_);
        for (const Jump& j : jumps_)
            if (j.logical < logical)
                t.jumps_.push_back(j);
        return t;
    }

    std::uint64_t start() const { return start_; }
    const std::vector<Jump>& jumps() const { return jumps_; }
    // Where the last piece begins, in the file (0: the file is in one piece).
    std::uint64_t lastPieceFrom() const { return jumps_.empty() ? 0 : jumps_.back().logical; }

    std::uint64_t cardOffset(std::uint64_t logical) const
    {
        for (auto j = jumps_.rbegin(); j != jumps_.rend(); ++j)
            if (logical >= j->logical)
                return j->card + (logical - j->logical);
        return start_ + logical;
    }
    // The logical offset where the piece holding `logical` ends: the next jump, kNoEnd for
    // the last piece.
    std::uint64_t pieceEnd(std::uint64_t logical) const
    {
        for (const Jump& j : jumps_)
            if (j.logical > logical)
                return j.logical;
        return kNoEnd;
    }
    // Whether the file's first `length` bytes use card offset `card`.
    bool holds(std::uint64_t card, std::uint64_t length) const
    {
        std::uint64_t from = 0, at = start_;
        for (std::size_t i = 0; i <= jumps_.size(); ++i) {
            const std::uint64_t to =
                i < jumps_.size() ? std::min(jumps_[i].logical, length) : length;
            if (to > from && card >= at && card < at + (to - from))
                return true;
            if (i < jumps_.size()) {
                from = jumps_[i].logical;
                at = jumps_[i].card;
            }
        }
        return false;
    }

private:
    std::uint64_t start_ = 0;
    std::vector<Jump> jumps_;
};

} // namespace velo::jpeg
