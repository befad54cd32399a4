#include "scan/jpeg/segments.h"

#include <algorithm>
#include <cstring>

namespace velo::jpeg
{

namespace
{

// Builds the tables the scan's components use that are not built yet.
void buildScanTables(WalkState& s, std::uint8_t components)
{
    std::uint8_t dcNeeded = 0, acNeeded = 0;
    for (std::uint8_t i = 0; i < components; ++i) {
        dcNeeded |= std::uint8_t(1 << s.scan.dcTable[i]);
        acNeeded |= std::uint8_t(1 << s.scan.acTable[i]);
    }
    dcNeeded &= std::uint8_t(~s.frame.tables->dcBuilt);
    acNeeded &= std::uint8_t(~s.frame.tables->acBuilt);
    if (!dcNeeded && !acNeeded)
        return;
    auto tables = std::make_shared<Tables>(*s.frame.tables);
    auto build = [](std::uint8_t tableClass, const TableDefinition& definition,
                    HuffmanTable& into) {
        std::size_t total = 0;
        for (std::uint8_t c : definition.counts)
            total += c;
        into.build(tableClass, definition.counts, std::span(definition.symbols).first(total));
    };
    for (std::uint8_t id = 0; id < 4; ++id) {
        if (dcNeeded >> id & 1)
            build(0, tables->dcDefinition[id], tables->dc[id]);
        if (acNeeded >> id & 1)
            build(1, tables->acDefinition[id], tables->ac[id]);
    }
    tables->dcBuilt |= dcNeeded;
    tables->acBuilt |= acNeeded;
    s.frame.tables = std::move(tables);
}

} // namespace

bool readFrame(WalkState& s, std::uint8_t marker, std::span<const std::uint8_t> p)
{
    FrameState& f = s.frame;
    if (f.present || p.size() < 6)
        return false;
    const std::uint8_t n = p[5];
    if (n < 1 || n > 4 || p.size() != 6u + 3u * n)
        return false;
    f.precision = p[0];
    f.height = be16(&p[1]);
    f.width = be16(&p[3]);
    if (f.width == 0 || f.precision < 2 || f.precision > 16)
        return false;
    f.components = n;
    f.maxH = f.maxV = 1;
    for (std::uint8_t i = 0; i < n; ++i) {
        f.compId[i] = p[6 + 3 * i];
        f.compH[i] = p[7 + 3 * i] >> 4;
        f.compV[i] = p[7 + 3 * i] & 15;
        if (f.compH[i] < 1 || f.compH[i] > 4 || f.compV[i] < 1 || f.compV[i] > 4)
            return false;
        f.maxH = std::max(f.maxH, f.compH[i]);
        f.maxV = std::max(f.maxV, f.compV[i]);
    }
    f.present = true;
    // Baseline and extended sequential Huffman files are decoded; the others (progressive,
    // lossless, arithmetic) are walked for their markers.
    f.decodable = (marker == 0xC0 || marker == 0xC1) && f.height != 0 &&
                  (f.precision == 8 || f.precision == 12);
    return true;
}

bool readTables(WalkState& s, std::span<const std::uint8_t> p)
{
    auto tables =
        s.frame.tables ? std::make_shared<Tables>(*s.frame.tables) : std::make_shared<Tables>();
    while (!p.empty()) {
        if (p.size() < 17)
            return false;
        const std::uint8_t tableClass = p[0] >> 4, id = p[0] & 15;
        if (tableClass > 1 || id > 3)
            return false;
        const auto counts = p.subspan<1, 16>();
        std::size_t total = 0;
        for (std::uint8_t c : counts)
            total += c;
        if (p.size() < 17 + total || !HuffmanTable::countsFit(counts))
            return false;
        TableDefinition& definition =
            tableClass == 0 ? tables->dcDefinition[id] : tables->acDefinition[id];
        std::copy(counts.begin(), counts.end(), definition.counts.begin());
        std::copy_n(p.begin() + 17, total, definition.symbols.begin());
        const std::uint8_t bit = std::uint8_t(1 << id);
        (tableClass == 0 ? tables->dcDefined : tables->acDefined) |= bit;
        (tableClass == 0 ? tables->dcBuilt : tables->acBuilt) &= std::uint8_t(~bit);
        p = p.subspan(17 + total);
    }
    s.frame.tables = std::move(tables);
    return true;
}

bool startScan(WalkState& s, std::span<const std::uint8_t> p)
{
    FrameState& f = s.frame;
    ScanState& scan = s.scan;
    if (!f.present || p.empty())
        return false;
    const std::uint8_t n = p[0];
    if (n < 1 || n > 4 || p.size() != 4u + 2u * n)
        return false;
    std::array<std::uint8_t, 4> comp{};
    for (std::uint8_t i = 0; i < n; ++i) {
        const std::uint8_t id = p[1 + 2 * i];
        const auto* found = std::find(f.compId.begin(), f.compId.begin() + f.components, id);
        if (found == f.compId.begin() + f.components)
            return false;
        comp[i] = std::uint8_t(found - f.compId.begin());
        scan.dcTable[i] = p[2 + 2 * i] >> 4;
        scan.acTable[i] = p[2 + 2 * i] & 15;
    }
    const std::uint8_t ss = p[1 + 2 * n], se = p[2 + 2 * n], ahal = p[3 + 2 * n];
    f.scans++;
    scan.mcuDone = 0;
    scan.sinceRestart = 0;
    scan.nextRestart = 0;
    scan.blockInMcu = 0;
    scan.k = 0;
    scan.dcPred.fill(0);
    s.bits.bits = 0;
    s.bits.count = 0;
    s.bits.afterFF = false;
    s.bits.marker = 0;

    scan.decoding = f.decodable && ss == 0 && se == 63 && ahal == 0;
    for (std::uint8_t i = 0; i < n && scan.decoding; ++i) {
        const bool have = f.tables && scan.dcTable[i] < 4 && scan.acTable[i] < 4 &&
                          (f.tables->dcDefined >> scan.dcTable[i] & 1) &&
                          (f.tables->acDefined >> scan.acTable[i] & 1);
        if (!have)
            return false; // a sequential scan without its tables cannot be decoded by anyone
    }
    if (!scan.decoding)
        return true;
    buildScanTables(s, n);
    const auto ceilDiv = [](std::uint64_t a, std::uint64_t b) { return (a + b - 1) / b; };
    if (n == 1) {
        const std::uint8_t c = comp[0];
        const std::uint64_t w = ceilDiv(std::uint64_t(f.width) * f.compH[c], f.maxH);
        const std::uint64_t h = ceilDiv(std::uint64_t(f.height) * f.compV[c], f.maxV);
        scan.mcuTotal = ceilDiv(w, 8) * ceilDiv(h, 8);
        scan.mcuBlocks = 1;
        scan.blockComp[0] = 0;
    } else {
        scan.mcuTotal = ceilDiv(f.width, 8u * f.maxH) * ceilDiv(f.height, 8u * f.maxV);
        scan.mcuBlocks = 0;
        for (std::uint8_t i = 0; i < n; ++i) {
            const int blocks = f.compH[comp[i]] * f.compV[comp[i]];
            if (scan.mcuBlocks + blocks > 10)
                return false;
            for (int b = 0; b < blocks; ++b)
                scan.blockComp[scan.mcuBlocks++] = i;
        }
    }
    return true;
}

void readMpf(WalkState& s, std::span<const std::uint8_t> t, std::uint64_t base)
{
    if (t.size() < 8)
        return;
    const bool little = t[0] == 'I' && t[1] == 'I';
    if (!little && !(t[0] == 'M' && t[1] == 'M'))
        return;
    auto u16 = [&](std::size_t at) -> std::uint32_t {
        return little ? t[at] | t[at + 1] << 8 : t[at] << 8 | t[at + 1];
    };
    auto u32 = [&](std::size_t at) -> std::uint32_t {
        return little ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
    };
    const std::size_t ifd = u32(4);
    if (ifd + 2 > t.size())
        return;
    const std::size_t entries = u16(ifd);
    for (std::size_t i = 0; i < entries; ++i) {
        const std::size_t e = ifd + 2 + 12 * i;
        if (e + 12 > t.size())
            return;
        if (u16(e) != 0xB002)
            continue;
        const std::size_t count = u32(e + 4) / 16, data = u32(e + 8);
        for (std::size_t j = 0; j < count && s.mpfImages < s.mpfStart.size(); ++j) {
            const std::size_t rec = data + 16 * j;
            if (rec + 16 > t.size())
                return;
            const std::uint32_t bytes = u32(rec + 4), offset = u32(rec + 8);
            if (offset == 0 && bytes != 0) {
                s.mpfEnd = bytes; // the first image, this one
            } else if (bytes != 0) {
                s.mpfStart[s.mpfImages] = base + offset;
                s.mpfBytes[s.mpfImages++] = bytes;
            }
        }
    }
}

} // namespace velo::jpeg
