#include "cli/options.h"

#include "drive/rawvolume.h"

#include <cerrno>
#include <charconv>
#include <vector>

namespace velo::cli
{

namespace
{

// Digits only: strtoull would accept "-1", " 12" and "12abc", all of them typos here.
std::optional<std::uint64_t> wholeNumber(const std::string& text)
{
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    if (text.empty() || text[0] < '0' || text[0] > '9')
        return std::nullopt;
    const auto [at, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || at != end)
        return std::nullopt;
    return value;
}

bool takesValue(const std::string& name)
{
    return name == "--sector-size" || name == "--sectors" || name == "--report" ||
           name == "--rule" || name == "--cluster-size" || name == "--gap-window" ||
           name == "--sheet" || name == "--names";
}

// A name for a file inside OUTDIR, not a path: no separator of either system, and not
// one of the names that mean a folder.
bool isPlainFileName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\\") == std::string::npos;
}

} // namespace

ParseResult parseOptions(std::span<const std::string> args)
{
    ParseResult result;
    Options& o = result.options;
    auto fail = [&](std::string message) {
        result.outcome = ParseOutcome::Error;
        result.error = std::move(message);
        return result;
    };

    std::vector<std::string> operands;
    bool optionsEnded = false;
    bool sheetChosen = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::optional<std::string> value;
        if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
            if (!takesValue(arg))
                return fail(arg + " takes no value");
        } else if (takesValue(arg)) {
            if (i + 1 >= args.size())
                return fail(arg + " needs a value");
            value = args[++i];
        }

        if (arg == "--help" || arg == "-h") {
            result.outcome = ParseOutcome::Help;
            return result;
        }
        if (arg == "--version") {
            result.outcome = ParseOutcome::Version;
            return result;
        }
        if (arg == "-q" || arg == "--quiet") {
            o.quiet = true;
        } else if (arg == "--dry-run") {
            o.dryRun = true;
        } else if (arg == "--overwrite") {
            o.overwrite = true;
        } else if (arg == "--allow-writing-to-source") {
            o.allowWritingToSource = true;
        } else if (arg == "--sector-size") {
            const auto n = wholeNumber(*value);
            if (!n || *n == 0 || *n > kLargestSectorBytes)
                return fail("--sector-size must be a whole number from 1 to " +
                            std::to_string(kLargestSectorBytes) + ", not '" + *value + "'");
            o.sectorBytes = std::uint32_t(*n);
        } else if (arg == "--sectors") {
            const auto n = wholeNumber(*value);
            if (!n)
                return fail("--sectors must be a whole number, not '" + *value + "'");
            o.sectors = *n;
        } else if (arg == "--report") {
            if (value->empty())
                return fail("--report needs a file name");
            o.reportPath = *value;
        } else if (arg == "--rule") {
            if (*value != "window" && *value != "jpeg")
                return fail("--rule must be 'window' or 'jpeg', not '" + *value + "'");
            o.rule = *value == "jpeg" ? Rule::Jpeg : Rule::Window;
        } else if (arg == "--names") {
            if (*value != "dd" && *value != "fs")
                return fail("--names must be 'dd' or 'fs', not '" + *value + "'");
            o.naming = *value == "fs" ? Naming::FileSystem : Naming::Numbers;
        } else if (arg == "--cluster-size") {
            const auto n = wholeNumber(*value);
            if (!n || *n == 0 || *n > (std::uint64_t(1) << 30))
                return fail("--cluster-size must be a whole number of bytes from 1 to " +
                            std::to_string(1u << 30) + ", not '" + *value + "'");
            o.clusterBytes = *n;
        } else if (arg == "--gap-window") {
            const auto n = wholeNumber(*value);
            if (!n || *n > 65536)
                return fail("--gap-window must be a whole number of MiB from 0 to 65536, not '" +
                            *value + "'");
            o.gapWindowMiB = *n;
        } else if (arg == "--sheet") {
            if (!isPlainFileName(*value))
                return fail("--sheet takes a file name inside OUTDIR, not '" + *value + "'");
            if (sheetChosen && !o.sheetName)
                return fail("--sheet and --no-sheet contradict each other");
            o.sheetName = *value;
            sheetChosen = true;
        } else if (arg == "--no-sheet") {
            if (sheetChosen && o.sheetName)
                return fail("--sheet and --no-sheet contradict each other");
            o.sheetName.reset();
            sheetChosen = true;
        } else {
            return fail("unknown option " + arg);
        }
    }
    if ((o.clusterBytes || o.gapWindowMiB) && o.rule != Rule::Jpeg)
        return fail("--cluster-size and --gap-window do not go with --rule window");

    if (operands.size() < 2)
        return fail(operands.empty() ? "missing SOURCE and OUTDIR" : "missing OUTDIR");
    if (operands.size() > 2)
        return fail("too many arguments: '" + operands[2] + "'");
    o.source = operands[0];
    o.outdir = operands[1];
    if (o.source.empty() || o.outdir.empty())
        return fail("SOURCE and OUTDIR must not be empty");
    result.outcome = ParseOutcome::Run;
    return result;
}

std::string usageText()
{
    return R"(Usage: velo-carve [options] SOURCE OUTDIR

Recovers JPEG photos from the raw sectors of SOURCE (a disk image, or a block
device such as /dev/sdb or on Windows a volume such as \\.\E:, opened
read-only) into OUTDIR as DD001.JPG, DD002.JPG, ... The folder is created if
missing. A FAT or exFAT file system on SOURCE is read for its cluster size and
the names of its deleted files (the report gives them).

Options:
  --sector-size N   bytes per sector (default: the device's logical sector
                    size, 512 for an image file)
  --sectors T       carve only the first T sectors (default: every whole
                    sector)
  --report FILE     write one CSV line per carved file to FILE ("-" for
                    standard output)
  --rule R          jpeg (default): follow each file's JPEG structure to its
                    end and put photos found in pieces back together; window:
                    the window's rule, FF D9 and eleven zeros end a file
  --cluster-size N  with --rule jpeg: bytes per cluster, a multiple of the
                    sector size (default: that of the FAT or exFAT file
                    system when it lists deleted files, else learned from
                    where files start)
  --names N         dd (default): DD001.JPG, DD002.JPG, ...; fs: a photo that
                    starts where a deleted file of the file system did gets
                    that file's name and time (a short name's lost first
                    letter as _), the others DD001.JPG, ...
  --gap-window M    with --rule jpeg: look for a photo's second piece at most
                    M MiB past the break (default 64)
  --sheet NAME      the contact sheet's file name in OUTDIR (default
                    index.html): a page any browser opens, with a thumbnail,
                    size, verdict, sectors and camera date of every file carved
  --no-sheet        write no contact sheet
  --dry-run         carve nothing; write only the report and the summary (no
                    sheet)
  --overwrite       replace the DD*.JPG files and the contact sheet of an
                    earlier run in OUTDIR
  --allow-writing-to-source
                    let OUTDIR and the report lie on the device being read
                    (refused without it: writing there can overwrite the photos
                    still to be found)
  -q, --quiet       no progress and no summary
  -h, --help        show this help
  --version         show the version

Exit status: 0 done; 1 some sectors could not be read or some files (or the
contact sheet) not written; 2 bad usage, a source that cannot be opened or an
output that may not be written; 130 stopped by Ctrl-C.
)";
}

std::string sourceOpenHint(const std::string& source, int errorNumber)
{
    // The usual causes differ by system; a plain file's own rights need no hint.
    if (source.starts_with("/dev/")) {
        if (errorNumber == EACCES || errorNumber == EPERM)
            return "Reading a disk needs root, or membership in the disk group (as root: "
                   "adduser NAME disk, then log in again).\n";
        if (errorNumber == ENOENT)
            return "Is the card attached? lsblk lists the disks; attach an image file with "
                   "losetup -r -f --show card.img.\n";
    }
    if (source.starts_with("\\\\.\\")) {
        if (errorNumber == EACCES || errorNumber == EPERM)
            return "Windows opens a volume only for a program run as administrator.\n";
        if (errorNumber == ENOENT)
            return "Is the card in its drive?\n";
    }
    return "";
}

std::string versionText()
{
    return "velo-carve " VELO_VERSION "\n";
}

} // namespace velo::cli
