#pragma once

#include "cli/report.h"
#include "cli/sheetentry.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace velo::cli
{

// The contact sheet: one HTML page, plain HTML and CSS with no script, that any browser
// opens offline. A line of totals at the top, then for every carved file its thumbnail
// (inlined as a data: URI, so that the page is one file that cannot part from its
// pictures), name (a link to the file), size, verdict, sectors and camera date. Files that
// are broken (SheetEntry::broken) are framed in red and say so in words. Every text that
// comes from the card is escaped.
class ContactSheet
{
public:
    // title: the folder the files are in, as the user named it. With verdicts the rule
    // checked each file (the JPEG rule); without, each file's verdict reads "unchecked".
    ContactSheet(std::string title, std::uint32_t sectorBytes, bool verdicts);

    // Adds the entry's part of the page; keeps no thumbnail bytes.
    void add(const SheetEntry& entry);
    // A start the JPEG rule found no JPEG at: counted, not shown.
    void addNotJpeg() { ++tally_.notJpeg; }

    const VerdictTally& tally() const { return tally_; }
    std::uint64_t brokenFiles() const { return broken_; }
    std::uint64_t filesWithoutPreview() const { return noPreview_; }

    // "12 files: 9 complete, 1 reassembled, 0 uncertain, 1 damaged, 1 truncated; 2 broken, 1 without a
    // preview."
    std::string totalsLine() const;
    std::string page() const;

private:
    std::string entryHtml(const SheetEntry& entry) const;

    std::string title_;
    std::uint32_t sectorBytes_;
    bool verdicts_;
    VerdictTally tally_;
    std::uint64_t broken_ = 0;
    std::uint64_t noPreview_ = 0;
    bool anySkipped_ = false;
    std::string entries_;
};

// Text made safe to stand in HTML, in an element or a quoted attribute.
std::string htmlEscaped(std::string_view text);
std::string base64(std::span<const std::uint8_t> bytes);

} // namespace velo::cli
