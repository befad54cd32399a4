#include "cli/options.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <initializer_list>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace velo::cli
{
namespace
{

using ::testing::HasSubstr;
using ::testing::Not;

ParseResult parse(std::initializer_list<std::string> args)
{
    const std::vector<std::string> v(args);
    return parseOptions(v);
}

TEST(Options, EveryOptionInBothSpellings)
{
    const auto r =
        parse({"--sector-size", "4096", "--sectors=1000", "--report", "r.csv", "--dry-run", "-q",
               "--overwrite", "--allow-writing-to-source", "/dev/sdb", "out"});
    ASSERT_EQ(r.outcome, ParseOutcome::Run) << r.error;
    EXPECT_EQ(r.options.sectorBytes, 4096u);
    EXPECT_EQ(r.options.sectors, 1000u);
    EXPECT_EQ(r.options.reportPath, "r.csv");
    EXPECT_TRUE(r.options.dryRun);
    EXPECT_TRUE(r.options.quiet);
    EXPECT_TRUE(r.options.overwrite);
    EXPECT_TRUE(r.options.allowWritingToSource);
    EXPECT_EQ(r.options.source, "/dev/sdb");
    EXPECT_EQ(r.options.outdir, "out");

    const auto plain = parse({"img", "out"});
    ASSERT_EQ(plain.outcome, ParseOutcome::Run);
    EXPECT_FALSE(plain.options.sectorBytes);
    EXPECT_FALSE(plain.options.sectors);
    EXPECT_FALSE(plain.options.reportPath);
    EXPECT_FALSE(plain.options.dryRun || plain.options.quiet || plain.options.overwrite ||
                 plain.options.allowWritingToSource);
}

TEST(Options, OperandsMayFollowOrLookLikeOptions)
{
    const auto r = parse({"img", "--quiet", "out", "--sector-size=1"});
    ASSERT_EQ(r.outcome, ParseOutcome::Run) << r.error;
    EXPECT_EQ(r.options.sectorBytes, 1u);
    const auto dashed = parse({"--", "-odd-name", "-"});
    ASSERT_EQ(dashed.outcome, ParseOutcome::Run) << dashed.error;
    EXPECT_EQ(dashed.options.source, "-odd-name");
    EXPECT_EQ(dashed.options.outdir, "-");
}

TEST(Options, HelpAndVersionWinOverEverythingElse)
{
    EXPECT_EQ(parse({"--help"}).outcome, ParseOutcome::Help);
    EXPECT_EQ(parse({"img", "-h", "--bogus"}).outcome, ParseOutcome::Help);
    EXPECT_EQ(parse({"--version"}).outcome, ParseOutcome::Version);
    EXPECT_THAT(usageText(), HasSubstr("--sector-size"));
}

// help2man makes the manual page from this text: it takes an option's line for a term
// only when two blanks part the option from its meaning, and a line indented like the
// meanings for their continuation. One blank, or a ragged column, runs the meaning into
// the term.
TEST(Options, UsageSetsEachOptionApartFromItsMeaning)
{
    const std::regex optionLine(R"(^  (-[-a-z]+(, --[a-z]+)?( [A-Z]+)?)( {2,})\S.*$)");
    // An option too long for the column stands alone, its meaning on the lines below.
    const std::regex optionAlone(R"(^  (-[-a-z]+( [A-Z]+)?)$)");
    std::istringstream text(usageText());
    std::string line;
    std::size_t column = 0;
    std::set<std::string> terms;
    bool inOptions = false;
    while (std::getline(text, line)) {
        SCOPED_TRACE(line);
        EXPECT_LE(line.size(), 80u);
        if (line == "Options:") {
            inOptions = true;
            continue;
        }
        if (!inOptions)
            continue;
        if (line.empty())
            break;
        std::smatch m;
        if (std::regex_match(line, m, optionLine)) {
            const std::size_t meaningAt = 2 + m[1].length() + m[4].length();
            if (column == 0)
                column = meaningAt;
            EXPECT_EQ(meaningAt, column);
            terms.insert(m[1]);
        } else if (std::regex_match(line, m, optionAlone)) {
            EXPECT_GT(line.size(), column - 2) << "short enough for the column";
            terms.insert(m[1]);
        } else {
            EXPECT_EQ(line.find_first_not_of(' '), column)
                << "neither an option nor its continuation";
        }
    }
    for (const char* option :
         {"--sector-size N", "--sectors T", "--report FILE", "--rule R", "--cluster-size N",
          "--gap-window M", "--sheet NAME", "--no-sheet", "--dry-run", "--overwrite",
          "--allow-writing-to-source", "-q, --quiet", "-h, --help", "--version"})
        EXPECT_EQ(terms.count(option), 1u) << option;
}

TEST(Options, TheJpegRuleAndItsSettings)
{
    const auto r = parse({"--rule", "jpeg", "--cluster-size=32768", "--gap-window", "8", "i", "o"});
    ASSERT_EQ(r.outcome, ParseOutcome::Run) << r.error;
    EXPECT_EQ(r.options.rule, Rule::Jpeg);
    EXPECT_EQ(r.options.clusterBytes, 32768u);
    EXPECT_EQ(r.options.gapWindowMiB, 8u);
    EXPECT_EQ(parse({"i", "o"}).options.rule, Rule::Jpeg);
    EXPECT_EQ(parse({"--rule=window", "i", "o"}).options.rule, Rule::Window);
}

// The contact sheet: index.html unless named otherwise or turned off.
TEST(Options, TheContactSheetsName)
{
    const struct {
        std::initializer_list<std::string> args;
        std::optional<std::string> sheet;
    } rows[] = {
        {{"i", "o"}, "index.html"},
        {{"--sheet", "photos.html", "i", "o"}, "photos.html"},
        {{"--sheet=found.htm", "i", "o"}, "found.htm"},
        {{"--no-sheet", "i", "o"}, std::nullopt},
        {{"--no-sheet", "--no-sheet", "i", "o"}, std::nullopt},
    };
    for (const auto& row : rows) {
        const auto r = parseOptions(std::vector<std::string>(row.args));
        ASSERT_EQ(r.outcome, ParseOutcome::Run) << r.error;
        EXPECT_EQ(r.options.sheetName, row.sheet);
    }
    EXPECT_THAT(usageText(), HasSubstr("--no-sheet"));
}

TEST(Options, SectorSizeLimits)
{
    EXPECT_EQ(parse({"--sector-size", "1048576", "i", "o"}).options.sectorBytes, 1048576u);
    for (const char* bad :
         {"0", "1048577", "99999999999999999999999", "-512", "512k", "", " 512", "+512", "0x200"}) {
        const auto r = parse({"--sector-size", bad, "i", "o"});
        EXPECT_EQ(r.outcome, ParseOutcome::Error) << bad;
        EXPECT_THAT(r.error, HasSubstr("--sector-size"));
    }
}

TEST(Options, BadCommandLinesNameTheProblem)
{
    const struct {
        std::initializer_list<std::string> args;
        const char* mentions;
    } cases[] = {
        {{}, "missing SOURCE"},
        {{"img"}, "missing OUTDIR"},
        {{"img", "out", "extra"}, "extra"},
        {{"--sectors", "ten", "img", "out"}, "--sectors"},
        {{"--sectors", "-1", "img", "out"}, "--sectors"},
        {{"img", "out", "--sectors"}, "needs a value"},
        {{"--report=", "img", "out"}, "--report"},
        {{"--quiet=yes", "img", "out"}, "takes no value"},
        {{"--frobnicate", "img", "out"}, "--frobnicate"},
        {{"-x", "img", "out"}, "-x"},
        {{"", "out"}, "empty"},
        {{"--rule", "photorec", "img", "out"}, "--rule"},
        {{"--cluster-size", "4096", "--rule", "window", "img", "out"}, "--rule window"},
        {{"--gap-window=8", "--rule=window", "img", "out"}, "--rule window"},
        {{"--rule=jpeg", "--cluster-size", "0", "img", "out"}, "--cluster-size"},
        {{"--rule=jpeg", "--gap-window", "8M", "img", "out"}, "--gap-window"},
        {{"--sheet", "pages/index.html", "img", "out"}, "a file name inside OUTDIR"},
        {{"--sheet", "..\\up.html", "img", "out"}, "a file name inside OUTDIR"},
        {{"--sheet", "..", "img", "out"}, "a file name inside OUTDIR"},
        {{"--sheet=", "img", "out"}, "a file name inside OUTDIR"},
        {{"--sheet", "a.html", "--no-sheet", "img", "out"}, "contradict"},
        {{"--no-sheet", "--sheet", "a.html", "img", "out"}, "contradict"},
    };
    for (const auto& c : cases) {
        const auto r = parseOptions(std::vector<std::string>(c.args));
        EXPECT_EQ(r.outcome, ParseOutcome::Error) << c.mentions;
        EXPECT_THAT(r.error, HasSubstr(c.mentions));
        EXPECT_THAT(r.error, Not(HasSubstr("\n"))) << "one line: " << r.error;
    }
}

// A source that cannot be opened for a usual reason gets one line of help after the error;
// a plain file, or an unusual reason, gets none.
TEST(Options, ADeviceThatCannotBeOpenedForAUsualReasonGetsAHint)
{
    const struct {
        const char* source;
        int errorNumber;
        const char* mentions; // "" for no hint
    } cases[] = {
        {"/dev/sdb", EACCES, "disk group"},
        {"/dev/mmcblk0p1", EPERM, "root"},
        {"/dev/sdz9", ENOENT, "losetup -r -f --show card.img"},
        {"/dev/sdz9", ENOENT, "lsblk"},
        {"\\\\.\\E:", EACCES, "administrator"},
        {"\\\\.\\Q:", ENOENT, "card"},
        {"card.img", EACCES, ""},
        {"card.img", ENOENT, ""},
        {"/dev/sdb", EIO, ""},
        {"/dev/sdb", EISDIR, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.source) + " errno " + std::to_string(c.errorNumber));
        const std::string hint = sourceOpenHint(c.source, c.errorNumber);
        if (*c.mentions == '\0') {
            EXPECT_EQ(hint, "");
            continue;
        }
        EXPECT_THAT(hint, HasSubstr(c.mentions));
        ASSERT_FALSE(hint.empty());
        EXPECT_EQ(hint.find('\n'), hint.size() - 1) << "one line: " << hint;
    }
}

} // namespace
} // namespace velo::cli
