// The contact sheet's page: one entry per file with what the report knows of it, broken
// files marked, and the card's text escaped on its way into the HTML.

#include "cli/contactsheet.h"
#include "tests/cli/sheetphotos.h"
#include "tests/scan/jpeg/testphotos.h"
#include "tests/support/files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace velo::cli
{
namespace
{

using namespace velo::cli::testing;
using velo::testing::ScratchDir;
namespace photos = velo::jpeg::testing;
using ::testing::HasSubstr;
using ::testing::Not;

// The page's entries, one text per <figure>.
std::vector<std::string> entriesOf(const std::string& page)
{
    std::vector<std::string> entries;
    for (std::size_t at = page.find("<figure"); at != std::string::npos;) {
        const std::size_t end = page.find("</figure>", at);
        entries.push_back(page.substr(at, end - at));
        at = page.find("<figure", end);
    }
    return entries;
}

CarvedFile carved(std::uint64_t number, std::uint64_t first, std::uint64_t length,
                  std::optional<FileVerdict> verdict = std::nullopt,
                  FileOutcome outcome = FileOutcome::Written)
{
    CarvedFile f;
    f.name = velo::testing::outputName(number);
    f.firstSector = first;
    f.length = length;
    f.outcome = outcome;
    f.verdict = std::move(verdict);
    return f;
}

struct SheetRow {
    const char* name;
    CarvedFile file;
    Thumbnail thumbnail;
    std::string date;
    const char* verdict; // the word the entry shows
    const char* sectors; // as the entry shows them
    bool broken;
};

Thumbnail failedThumbnail()
{
    Thumbnail t;
    t.note = "Not a JPEG file: starts with 0x12 0x34";
    return t;
}

TEST(ContactSheet, ShowsEachFileWithItsVerdictSizeSectorsAndDateAndMarksTheBroken)
{
    const Thumbnail whole = Thumbnail::of(photos::makePhoto({}));
    Bytes cut = photos::makePhoto({.width = 320, .height = 240});
    cut.resize(cut.size() / 2);
    const Thumbnail partial = Thumbnail::of(cut);
    ASSERT_EQ(whole.outcome, Thumbnail::Outcome::Whole);
    ASSERT_EQ(partial.outcome, Thumbnail::Outcome::WithErrors);
    using V = Verdict;
    const std::vector<SheetRow> rows = {
        {"complete", carved(1, 2051, 7958, FileVerdict{V::Complete, {{2051, 2066}}}), whole,
         "2008-05-30 15:56:01", "complete", "2051\u20132066", false},
        {"reassembled",
         carved(2, 2067, 45286, FileVerdict{V::Reassembled, {{2067, 2146}, {2259, 2267}}}), whole,
         "", "reassembled", "2067\u20132146, 2259\u20132267", false},
        {"damaged", carved(3, 3000, 1024, FileVerdict{V::Damaged, {{3000, 3001}}}), whole, "",
         "damaged", "3000\u20133001", true},
        {"truncated, decoding as far as it goes",
         carved(4, 4000, 512, FileVerdict{V::Truncated, {{4000, 4000}}}), partial, "", "truncated",
         "4000", true},
        {"complete, but its thumbnail failed",
         carved(5, 5000, 600, FileVerdict{V::Complete, {{5000, 5001}}}), failedThumbnail(), "",
         "complete", "5000\u20135001", true},
        {"complete, written only in part",
         carved(6, 6000, 600, FileVerdict{V::Complete, {{6000, 6001}}}, FileOutcome::WriteFailed),
         whole, "", "complete", "6000\u20136001", true},
    };
    ContactSheet sheet("out", 512, true);
    for (const SheetRow& row : rows)
        sheet.add({row.file, row.thumbnail, row.date});
    const std::string page = sheet.page();
    const auto entries = entriesOf(page);
    ASSERT_EQ(entries.size(), rows.size());

    std::uint64_t broken = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const SheetRow& row = rows[i];
        SCOPED_TRACE(row.name);
        const std::string& e = entries[i];
        EXPECT_THAT(e, HasSubstr("href=\"" + row.file.name + "\""));
        EXPECT_THAT(e,
                    HasSubstr("<span class=\"verdict\">" + std::string(row.verdict) + "</span>"));
        EXPECT_THAT(e, HasSubstr("(" + std::to_string(row.file.length) + " bytes)"));
        EXPECT_THAT(e, HasSubstr("<dd>" + std::string(row.sectors) + "</dd>"));
        if (!row.date.empty()) {
            EXPECT_THAT(e, HasSubstr("<dd>" + row.date + "</dd>"));
        }
        EXPECT_EQ(e.find("<dt>taken</dt>") != std::string::npos, !row.date.empty());
        EXPECT_EQ(e.starts_with("<figure class=\"entry broken\">"), row.broken);
        EXPECT_EQ(e.find(">broken</span>") != std::string::npos, row.broken);
        EXPECT_EQ(e.find("<img") != std::string::npos, !row.thumbnail.jpeg.empty());
        if (row.thumbnail.jpeg.empty()) {
            EXPECT_THAT(e, HasSubstr("no preview"));
        }
        broken += row.broken;
    }
    EXPECT_EQ(sheet.brokenFiles(), broken);
    EXPECT_EQ(sheet.tally().files, rows.size());
    EXPECT_EQ(sheet.tally().damaged, 1u);
    EXPECT_EQ(sheet.tally().truncated, 1u);
    EXPECT_THAT(page, HasSubstr(htmlEscaped(sheet.totalsLine())));
    EXPECT_THAT(sheet.totalsLine(), HasSubstr(std::to_string(broken) + " broken"));
    EXPECT_THAT(page, Not(HasSubstr("<script")));
}

// With the window's rule nothing is checked: every verdict says so, a file's one piece
// runs from its first sector as far as its bytes go, and only the thumbnail's decoding
// can find it broken.
TEST(ContactSheet, FilesOfTheWindowsRuleAreUnchecked)
{
    Bytes cut = photos::makePhoto({.width = 320, .height = 240});
    cut.resize(cut.size() / 2);
    const Thumbnail whole = Thumbnail::of(photos::makePhoto({})), partial = Thumbnail::of(cut);
    const struct {
        std::uint32_t sectorBytes;
        std::uint64_t length;
        const char* sectors;
        const Thumbnail& thumbnail;
        bool broken;
    } rows[] = {
        {512, 512, "100", whole, false},
        {512, 513, "100\u2013101", whole, false},
        {4096, 9000, "100\u2013102", whole, false},
        {512, 512, "100", partial, true},
        {512, 512, "100", failedThumbnail(), true},
    };
    for (const auto& row : rows) {
        ContactSheet sheet("out", row.sectorBytes, false);
        sheet.add({carved(1, 100, row.length), row.thumbnail, ""});
        const std::string page = sheet.page();
        const auto entries = entriesOf(page);
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_THAT(entries[0], HasSubstr("<span class=\"verdict\">unchecked</span>"));
        EXPECT_THAT(entries[0], HasSubstr("<dd>" + std::string(row.sectors) + "</dd>"));
        EXPECT_EQ(entries[0].starts_with("<figure class=\"entry broken\""), row.broken);
        EXPECT_EQ(sheet.brokenFiles(), row.broken ? 1u : 0u);
        EXPECT_EQ(sheet.tally().unchecked, 1u);
        EXPECT_THAT(page, HasSubstr("checks no file"));
    }
}

// Text from the card (the camera's date, the decoder's words) and the folder's name reach
// the page as text, never as markup.
TEST(ContactSheet, EscapesEveryTextFromTheCard)
{
    const struct {
        std::string text, escaped;
    } rows[] = {
        {"<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;"},
        {"\"><img src=x onerror=alert(1)>", "&quot;&gt;&lt;img src=x onerror=alert(1)&gt;"},
        {"2008:05:30 <b>15:56</b> & 'so'",
         "2008:05:30 &lt;b&gt;15:56&lt;/b&gt; &amp; &#39;so&#39;"},
    };
    for (const auto& [text, escaped] : rows) {
        SCOPED_TRACE(text);
        ScratchDir dir;
        velo::testing::writeFile(dir / "DD001.JPG", photoWithExif({.dateTime = text}));
        const SheetEntry fromCard = SheetEntry::read(carved(1, 0, 100), dir.path.string(), true);
        ASSERT_EQ(fromCard.cameraDate, text);
        Thumbnail noted = failedThumbnail();
        noted.note = text;
        ContactSheet sheet(text, 512, true);
        sheet.add(fromCard);
        sheet.add({carved(2, 10, 100), noted, ""});
        const std::string page = sheet.page();
        EXPECT_EQ(htmlEscaped(text), escaped);
        EXPECT_THAT(page, Not(HasSubstr(text)));
        EXPECT_THAT(page, HasSubstr("<dd>" + escaped + "</dd>"));       // the date
        EXPECT_THAT(page, HasSubstr("<small>" + escaped + "</small>")); // the decoder's words
        EXPECT_THAT(page, HasSubstr("<title>velo-carve: " + escaped + "</title>"));
    }
}

TEST(ContactSheet, Base64MatchesTheKnownEncodings)
{
    const struct {
        std::string in, out;
    } rows[] = {{"", ""},        {"f", "Zg=="},        {"fo", "Zm8="},
                {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"\xff\xfe\xfd", "//79"}};
    for (const auto& row : rows)
        EXPECT_EQ(base64(Bytes(row.in.begin(), row.in.end())), row.out) << row.in;
}

} // namespace
} // namespace velo::cli
