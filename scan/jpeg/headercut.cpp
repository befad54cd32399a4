#include "scan/jpeg/headercut.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

namespace velo::jpeg
{

namespace
{

// Logical bytes of a file, through its layout; fewer at the card's end.
std::size_t copyOut(CardBytes& card, const Layout& layout, std::uint64_t at, std::uint8_t* into,
                    std::size_t count)
{
    std::size_t done = 0;
    while (done < count) {
        const std::uint64_t logical = at + done;
        const auto span = card.at(layout.cardOffset(logical));
        std::size_t n = std::min<std::size_t>(span.size(), count - done);
        n = std::size_t(std::min<std::uint64_t>(n, layout.pieceEnd(logical) - logical));
        if (n == 0)
            break;
        std::memcpy(into + done, span.data(), n);
        done += n;
    }
    return done;
}

// Whether the thumbnail an EXIF segment declares (IFD1's JPEGInterchangeFormat and its
// length) begins FF D8 and ends FF D9 where it should. True when there is none to check.
bool thumbnailIntact(CardBytes& card, const Layout& layout)
{
    std::uint64_t at = 2;
    std::uint8_t b[16];
    for (int segments = 0; segments < 16; ++segments) {
        if (copyOut(card, layout, at, b, 10) < 10 || b[0] != 0xFF || b[1] == 0xDA)
            return true;
        const std::uint64_t length = std::uint64_t(b[2] << 8 | b[3]);
        if (b[1] != 0xE1 || std::memcmp(b + 4, "Exif\0\0", 6) != 0) {
            at += 2 + length;
            continue;
        }
        const std::uint64_t tiff = at + 10, end = at + 2 + length;
        if (copyOut(card, layout, tiff, b, 8) < 8)
            return true;
        const bool little = b[0] == 'I';
        auto u16 = [&](const std::uint8_t* p) -> std::uint32_t {
            return little ? p[0] | p[1] << 8 : p[0] << 8 | p[1];
        };
        auto u32 = [&](const std::uint8_t* p) -> std::uint32_t {
            return little ? u16(p) | u16(p + 2) << 16 : u16(p) << 16 | u16(p + 2);
        };
        auto read16 = [&](std::uint64_t off, std::uint32_t& v) {
            std::uint8_t x[2];
            return tiff + off + 2 <= end && copyOut(card, layout, tiff + off, x, 2) == 2 &&
                   ((v = u16(x)), true);
        };
        auto read32 = [&](std::uint64_t off, std::uint32_t& v) {
            std::uint8_t x[4];
            return tiff + off + 4 <= end && copyOut(card, layout, tiff + off, x, 4) == 4 &&
                   ((v = u32(x)), true);
        };
        std::uint32_t ifd0 = u32(b + 4), n0 = 0, ifd1 = 0, n1 = 0;
        if (!read16(ifd0, n0) || !read32(ifd0 + 2 + 12ull * n0, ifd1) || ifd1 == 0 ||
            !read16(ifd1, n1))
            return true;
        std::uint32_t offset = 0, bytes = 0;
        for (std::uint32_t i = 0; i < n1 && i < 64; ++i) {
            std::uint32_t tag = 0, value = 0;
            if (!read16(ifd1 + 2 + 12ull * i, tag) || !read32(ifd1 + 2 + 12ull * i + 8, value))
                return true;
            if (tag == 0x0201)
                offset = value;
            else if (tag == 0x0202)
                bytes = value;
        }
        std::uint32_t head = 0, tail = 0;
        if (!offset || bytes < 4 || !read16(offset, head) || !read16(offset + bytes - 2, tail))
            return true;
        const std::uint32_t soi = little ? 0xD8FF : 0xFFD8, eoi = little ? 0xD9FF : 0xFFD9;
        return head == soi && tail == eoi;
    }
    return true;
}

using Histogram = std::array<double, 256>;

void count(CardBytes& card, std::uint64_t cardOffset, std::uint64_t bytes, Histogram& h)
{
    while (bytes > 0) {
        const auto span = card.at(cardOffset);
        const std::size_t n = std::size_t(std::min<std::uint64_t>(span.size(), bytes));
        if (n == 0)
            return;
        for (std::size_t i = 0; i < n; ++i)
            h[span[i]] += 1;
        cardOffset += n;
        bytes -= n;
    }
}

double similarity(const Histogram& a, const Histogram& b)
{
    double ab = 0, aa = 0, bb = 0;
    for (std::size_t i = 0; i < 256; ++i) {
        ab += a[i] * b[i];
        aa += a[i] * a[i];
        bb += b[i] * b[i];
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

} // namespace

// The cuts are tried best first by the histograms; the first whose walk still reaches
// the end of image is taken.
TwoPieces pickHeaderCut(CardBytes& card, std::uint64_t start, const WalkState& from,
                        const TwoPieces& found, const HeaderCutLimits& limits, SearchBudget& budget,
                        const std::function<bool(std::uint64_t)>& taken)
{
    const std::uint64_t cluster = limits.clusterBytes;
    const std::uint64_t shift = found.resume - (start + found.split);
    std::uint8_t head[4];
    Layout first(start);
    first.jump(found.split, found.resume);
    if (copyOut(card, first, from.pos, head, 4) < 4 || head[0] != 0xFF)
        return found;
    const std::uint64_t segmentEnd = from.pos + 2 + (std::uint64_t(head[2]) << 8 | head[3]);
    std::vector<std::uint64_t> cuts; // cluster boundaries inside the segment, ascending
    for (std::uint64_t p = (from.pos + 4) / cluster * cluster + cluster;
         p <= found.split && p <= segmentEnd; p += cluster)
        cuts.push_back(p);
    if (cuts.size() < 2)
        return found;
    // What is certain: the segment before the first cut, from the first piece, and after
    // the last, from the second.
    Histogram certain{};
    count(card, start + from.pos + 4, cuts.front() - (from.pos + 4), certain);
    if (segmentEnd > cuts.back())
        count(card, start + cuts.back() + shift, segmentEnd - cuts.back(), certain);
    std::vector<double> fromFirst, fromSecond; // per cluster between the cuts
    for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
        Histogram a{}, b{};
        count(card, start + cuts[i], cluster, a);
        count(card, start + cuts[i] + shift, cluster, b);
        fromFirst.push_back(similarity(a, certain));
        fromSecond.push_back(similarity(b, certain));
    }
    std::vector<std::pair<double, std::uint64_t>> ranked; // score, cut
    for (std::size_t j = 0; j < cuts.size(); ++j) {
        double score = 0;
        for (std::size_t i = 0; i + 1 < cuts.size(); ++i)
            score += i < j ? fromFirst[i] : fromSecond[i];
        ranked.push_back({score, cuts[j]});
    }
    std::sort(ranked.begin(), ranked.end(), std::greater<>());
    for (const auto& [score, split] : ranked) {
        Layout layout(start);
        layout.jump(split, start + split + shift);
        if (!thumbnailIntact(card, layout))
            continue;
        if (split == found.split)
            return found;
        if (budget.spent() || taken(start + split + shift))
            continue;
        Walker w(card, layout, limits.maxFileBytes);
        w.testPlainSectors(limits.testPlainSectors);
        w.countStartsPassed(false);
        w.restore(from);
        const Outcome o = walkCharged(w, from, budget);
        if (o == Outcome::Complete && w.decodedAll())
            return TwoPieces{split, start + split + shift, w.length()};
    }
    return found;
}

} // namespace velo::jpeg
