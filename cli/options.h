#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace velo::cli
{

inline constexpr const char* kDefaultSheetName = "index.html";

// Which carving rule: the window's, or the one that reads the JPEG structure.
enum class Rule { Window, Jpeg };

// How the carved files are named: DD001.JPG, ... in order; or, where the file system still
// lists a deleted file that starts where the photo does, by that file's name.
enum class Naming { Numbers, FileSystem };

// What the command line asked for.
struct Options {
    std::string source;
    std::string outdir;
    std::optional<std::uint32_t> sectorBytes; // absent: the device's own, 512 for a file
    std::optional<std::uint64_t> sectors;     // absent: every whole sector of the source
    std::optional<std::string> reportPath;    // "-" is standard output
    bool dryRun = false;
    bool quiet = false;
    bool overwrite = false;
    // OUTDIR or the report may lie on the device being read (refused without it).
    bool allowWritingToSource = false;
    Rule rule = Rule::Jpeg;
    Naming naming = Naming::Numbers;
    std::optional<std::uint64_t> clusterBytes; // --rule jpeg; absent: learned
    std::optional<std::uint64_t> gapWindowMiB; // --rule jpeg; absent: 64
    // The contact sheet's plain file name in OUTDIR; absent with --no-sheet.
    std::optional<std::string> sheetName = std::string(kDefaultSheetName);
};

enum class ParseOutcome { Run, Help, Version, Error };

struct ParseResult {
    ParseOutcome outcome = ParseOutcome::Error;
    Options options;
    std::string error; // one line, without the program name, when outcome is Error
};

// The arguments after the program name.
ParseResult parseOptions(std::span<const std::string> args);

std::string usageText();
std::string versionText();

// A line to add after "cannot open SOURCE: why" when SOURCE names a device and the cause
// is a usual one (errno EACCES or EPERM: the rights to read a disk; ENOENT: no card
// there), ending in a newline; "" otherwise.
std::string sourceOpenHint(const std::string& source, int errorNumber);

} // namespace velo::cli
