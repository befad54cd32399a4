#include "cli/velocarve.h"

#include "cli/carverun.h"
#include "cli/chunkreader.h"
#include "cli/contactsheet.h"
#include "cli/filesystemnames.h"
#include "cli/options.h"
#include "cli/outdir.h"
#include "cli/progress.h"
#include "cli/progressdisplay.h"
#include "cli/readatsectors.h"
#include "cli/readsourcefilesystem.h"
#include "cli/report.h"
#include "cli/stopflag.h"
#include "platform/carvesystem.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

namespace velo::cli
{

namespace
{

using Clock = std::chrono::steady_clock;

int usageError(const std::string& message)
{
    std::fprintf(stderr, "velo-carve: %s\n", message.c_str());
    return kExitUsage;
}

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Why the report may not be written to path, or "" when it may. Standard output ("-")
// always may.
std::string reportProblem(const std::string& path, const CarveSource& source,
                          const std::string& outdir)
{
    if (path == "-")
        return "";
    if (const std::string problem = source.reportProblem(path); !problem.empty())
        return problem;
    if (namesCarvedFileIn(path, outdir))
        return "the report " + path + " would be one of the files carved into " + outdir;
    std::error_code ec;
    const auto parent = std::filesystem::status(std::filesystem::absolute(path).parent_path(), ec);
    if (ec)
        return "cannot write " + path + ": " + ec.message();
    if (!std::filesystem::is_directory(parent))
        return "cannot write " + path + ": " + std::strerror(ENOTDIR);
    return "";
}

// What this run would write onto the device it reads: OUTDIR (unless nothing is carved)
// and the report file, each named as given.
std::vector<std::string> pathsOnSource(const Options& o, const CarveSource& source)
{
    std::vector<std::string> found;
    if (!o.dryRun && source.outputLiesOnSource(o.outdir))
        found.push_back(o.outdir);
    if (o.reportPath && *o.reportPath != "-" &&
        source.outputLiesOnSource(std::filesystem::absolute(*o.reportPath).parent_path().string()))
        found.push_back(*o.reportPath);
    return found;
}

// The highest folder of outdir's path that does not exist yet; empty when outdir exists.
std::filesystem::path firstMissingFolder(const std::string& outdir)
{
    std::filesystem::path missing;
    std::error_code ec;
    for (auto p = std::filesystem::absolute(outdir); !std::filesystem::exists(p, ec);
         p = p.parent_path()) {
        missing = p;
        if (p == p.parent_path())
            break;
    }
    return missing;
}

// Removes outdir and its parents up to firstMade, each only while it is empty.
void removeEmptyFolders(const std::string& outdir, const std::filesystem::path& firstMade)
{
    if (firstMade.empty())
        return;
    for (auto p = std::filesystem::absolute(outdir);; p = p.parent_path()) {
        if (!removeEmptyFolder(p.string()) || p == firstMade || p == p.parent_path())
            return;
    }
}

// Why the contact sheet may not be written as the options name it, or "" when it may:
// besides what sheetProblem checks, it is neither the source nor the report.
std::string outputSheetProblem(const Options& o)
{
    if (namesFileIn(o.source, o.outdir, *o.sheetName))
        return "the contact sheet " + *o.sheetName + " would be the source itself";
    if (o.reportPath && *o.reportPath != "-" && namesFileIn(*o.reportPath, o.outdir, *o.sheetName))
        return "the report " + *o.reportPath + " would be the contact sheet; give --sheet NAME";
    return sheetProblem(o.outdir, *o.sheetName, o.overwrite);
}

// Each written file read back for the contact sheet, in order, on every core: decoding the
// thumbnails is most of the sheet's cost. A start that was no JPEG has an empty entry.
std::vector<SheetEntry> readEntries(const std::vector<CarvedFile>& closed,
                                    const std::string& folder, bool previews)
{
    std::vector<SheetEntry> entries(closed.size());
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i; (i = next++) < closed.size();)
            if (closed[i].outcome != FileOutcome::NotWritten)
                entries[i] = SheetEntry::read(closed[i], folder, previews);
    };
    std::vector<std::jthread> helpers(std::max(1u, std::thread::hardware_concurrency()) - 1);
    for (std::jthread& helper : helpers)
        helper = std::jthread(work);
    work();
    helpers.clear(); // joins them
    return entries;
}

// Reads the files back, builds the contact sheet and writes it into the folder: a new
// file, or with --overwrite one that replaces an earlier run's. Without previews (a
// stopped run) the sheet has no thumbnails. Its totals line, or "" when it could not be
// written.
std::string writeSheet(const Options& o, OutputFolder& folder,
                       const std::vector<CarvedFile>& closed, std::uint32_t sectorBytes,
                       bool previews)
{
    ContactSheet sheet(o.outdir, sectorBytes, o.rule == Rule::Jpeg);
    const std::vector<SheetEntry> entries = readEntries(closed, o.outdir, previews);
    for (std::size_t i = 0; i < closed.size(); ++i) {
        if (closed[i].outcome == FileOutcome::NotWritten)
            sheet.addNotJpeg();
        else
            sheet.add(entries[i]);
    }
    const std::string page = sheet.page();
    CreateFailure failure = CreateFailure::None;
    const auto file = folder.createFile(
        *o.sheetName, o.overwrite ? IfNameTaken::Replace : IfNameTaken::Fail, failure);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(page.data());
    const bool written = file && file->write({bytes, page.size()});
    if (!file || !file->close() || !written)
        return "";
    return sheet.totalsLine();
}

// The file system's cluster size, when the JPEG rule can step by it: a whole number of
// the source's sectors, no larger than --cluster-size takes, and of a file system that
// still lists deleted files. One that lists none may have been made since (a quick
// format), perhaps with other clusters than the photos were written in. 0 otherwise: the
// rule learns it from where files start.
std::uint64_t clusterBytesOf(const filesystem::FileSystemMap& map, std::uint32_t sectorBytes)
{
    const std::uint64_t cluster = map.geometry().clusterBytes;
    if (map.deleted().empty() || cluster % sectorBytes != 0 || cluster > (std::uint64_t(1) << 30))
        return 0;
    return cluster;
}

} // namespace

int runVeloCarve(std::span<const std::string> args, Platform& platform)
{
    const ParseResult parsed = parseOptions(args);
    switch (parsed.outcome) {
    case ParseOutcome::Help:
        std::fputs(usageText().c_str(), stdout);
        return kExitDone;
    case ParseOutcome::Version:
        std::fputs(versionText().c_str(), stdout);
        return kExitDone;
    case ParseOutcome::Error:
        usageError(parsed.error);
        std::fputs("Try 'velo-carve --help' for more information.\n", stderr);
        return kExitUsage;
    case ParseOutcome::Run:
        break;
    }
    const Options& o = parsed.options;

    // Every check comes before the first thing is created.
    std::string openError;
    const std::unique_ptr<CarveSource> source = openCarveSource(o.source, openError);
    if (!source) {
        const std::string hint = sourceOpenHint(o.source, errno);
        usageError(openError);
        std::fputs(hint.c_str(), stderr);
        return kExitUsage;
    }

    const std::uint32_t sectorBytes = o.sectorBytes.value_or(source->sectorBytes());
    const std::uint64_t wholeSectors = source->sizeBytes() / sectorBytes;
    if (o.sectors && *o.sectors > wholeSectors)
        return usageError("--sectors " + std::to_string(*o.sectors) + " is more than the " +
                          std::to_string(wholeSectors) + " whole sectors of " + o.source);
    const std::uint64_t sectorTotal = o.sectors.value_or(wholeSectors);
    if (o.sectors && *o.sectors == 0)
        return usageError("--sectors 0 leaves no sector to read");
    if (sectorTotal == 0)
        return usageError(o.source + " has no sector to read (" +
                          std::to_string(source->sizeBytes()) + " bytes; is there a card in it?)");
    if (o.clusterBytes && *o.clusterBytes % sectorBytes != 0)
        return usageError("--cluster-size " + std::to_string(*o.clusterBytes) +
                          " is not a multiple of the sector size " + std::to_string(sectorBytes));

    if (const std::string problem = outdirProblem(o.outdir); !problem.empty())
        return usageError(problem);
    if (!o.dryRun && !o.overwrite && holdsEarlierRun(o.outdir))
        return usageError(o.outdir + " already holds DD*.JPG files from an earlier run; "
                                     "give --overwrite to replace them");
    if (!o.dryRun && namesCarvedFileIn(o.source, o.outdir))
        return usageError(o.source + " is named like the files this run writes into " + o.outdir +
                          "; copy it elsewhere first");
    if (o.reportPath) {
        if (const std::string problem = reportProblem(*o.reportPath, *source, o.outdir);
            !problem.empty())
            return usageError(problem);
    }
    for (const std::string& onSource : pathsOnSource(o, *source)) {
        if (!o.allowWritingToSource)
            return usageError(onSource + " lies on " + o.source +
                              ", the device being read, where writing can overwrite the lost "
                              "photos; write elsewhere, or give --allow-writing-to-source");
        std::fprintf(stderr,
                     "velo-carve: warning: %s lies on %s, the device being read; writing there "
                     "can overwrite the free space that holds the lost photos\n",
                     onSource.c_str(), o.source.c_str());
    }
    const bool makeSheet = o.sheetName && !o.dryRun;
    if (makeSheet) {
        if (const std::string problem = outputSheetProblem(o); !problem.empty())
            return usageError(problem);
    }

    // One way of reading for the file system, the pass and the JPEG rule's reads ahead: a
    // chunk whose read fails is read again sector by sector, the way that loses only the
    // sectors that fail, and a source that stops answering is given up on once for all.
    // With the JPEG rule the pass's chunks are made of the blocks the rule reads, so each
    // sector is read once by the carve (the file system's own few before it).
    const auto reads =
        std::make_shared<SourceReads>(source->chunkReader(), sectorBytes, source->sectorReader());
    const filesystem::FileSystemRead onCard = readSourceFileSystem(*reads, sectorTotal, stopFlag);
    if (!o.quiet)
        std::fprintf(stderr, "velo-carve: %s\n", onCard.said.c_str());
    const filesystem::FileSystemMap* map = onCard.map ? &*onCard.map : nullptr;

    // Now create: the folder, its lock, the report.
    std::unique_ptr<OutputFolder> folder;
    const std::filesystem::path firstMade = firstMissingFolder(o.outdir);
    // A run refused from here on takes back the folders it made, as long as they are empty.
    auto refuse = [&](const std::string& message) {
        folder.reset();
        removeEmptyFolders(o.outdir, firstMade);
        return usageError(message);
    };
    if (!o.dryRun) {
        if (const std::string problem = createFolders(o.outdir); !problem.empty())
            return refuse(problem);
        folder = platform.openOutputFolder(o.outdir);
        if (!folder || !folder->lockExclusive())
            return refuse(o.outdir + " is in use by another velo-carve run");
    }

    std::FILE* reportStream = nullptr;
    if (o.reportPath) {
        reportStream =
            *o.reportPath == "-" ? reportToStandardOutput() : source->openReport(*o.reportPath);
        if (!reportStream)
            return refuse("cannot write " + *o.reportPath + ": " + std::strerror(errno));
    }
    std::optional<ReportWriter> report;
    if (reportStream)
        report.emplace(reportStream, o.rule == Rule::Jpeg, map, sectorBytes);

    const auto start = Clock::now();
    ProgressDisplay progress(!o.quiet && progressLineFits(), sectorTotal, sectorBytes, start);
    SinkHooks hooks;
    hooks.outOfSpace = [&] {
        progress.clear();
        std::fprintf(stderr,
                     "velo-carve: warning: files cannot be created in %s: it is out of space "
                     "or inodes\n",
                     o.outdir.c_str());
    };
    bool reportFailureSaid = false;
    VerdictTally verdicts;
    std::vector<CarvedFile> closed; // for the contact sheet
    hooks.fileClosed = [&](const CarvedFile& f) {
        verdicts.add(f);
        if (makeSheet)
            closed.push_back(f);
        if (!report || report->add(f) || reportFailureSaid)
            return;
        reportFailureSaid = true;
        progress.clear();
        std::fprintf(stderr, "velo-carve: cannot write the report %s: %s; the carve goes on\n",
                     o.reportPath->c_str(), std::strerror(report->error()));
    };

    std::unique_ptr<FilePlace> place =
        o.naming == Naming::FileSystem && map
            ? std::make_unique<FileSystemNames>(folder.get(), o.outdir, o.overwrite, *map,
                                                sectorBytes)
            : numberedFilesIn(folder.get());
    FileSink files(std::move(place), o.overwrite ? IfNameTaken::Replace : IfNameTaken::Fail, hooks,
                   o.dryRun);
    ReadAtSectors card(reads, sectorTotal);
    RuleChoice rule{.rule = o.rule};
    std::unique_ptr<ChunkReader> reader;
    if (o.rule == Rule::Jpeg) {
        rule.jpeg.clusterBytes =
            o.clusterBytes.value_or(map ? clusterBytesOf(*map, sectorBytes) : 0);
        // The files ahead are walked on every core while this thread writes.
        rule.jpeg.lookAheadThreads = std::max(1u, std::thread::hardware_concurrency());
        if (o.gapWindowMiB)
            rule.jpeg.gapWindowBytes = *o.gapWindowMiB << 20;
        const auto blocks = std::make_shared<jpeg::SharedBlocks>(card, rule.jpeg.cacheBytes);
        rule.blocks = blocks.get();
        reader = std::make_unique<ChunkReader>(reads, blocks);
    } else {
        reader = std::make_unique<ChunkReader>(reads, sectorTotal);
    }
    reader->readAhead(); // the next chunk comes in while this one is carved and written
    const CarveTotals totals = runCarve(
        *reader, files, stopFlag, [&](const CarveTotals& t) { progress.update(t); }, rule);
    const double carveSeconds = secondsSince(start); // the contact sheet's time aside
    progress.clear();

    if (reader->gone())
        std::fprintf(stderr,
                     "velo-carve: %s stopped answering (%s); the carve ends at sector %llu of "
                     "%llu\n",
                     o.source.c_str(),
                     reader->gone()->error ? std::strerror(reader->gone()->error)
                                           : "every read failed",
                     (unsigned long long)reader->gone()->sector, (unsigned long long)sectorTotal);

    bool reportOk = true;
    if (report) {
        reportOk = report->finish();
        if (reportStream != stdout && std::fclose(reportStream) != 0)
            reportOk = false;
        if (!reportOk && !reportFailureSaid)
            std::fprintf(stderr, "velo-carve: the report %s could not be written whole\n",
                         o.reportPath->c_str());
    }
    std::string sheetTotals;
    if (makeSheet) {
        progress.say("making the contact sheet of " + std::to_string(closed.size()) + " files");
        sheetTotals = writeSheet(o, *folder, closed, sectorBytes, !totals.stopped);
        progress.clear();
        if (sheetTotals.empty())
            std::fprintf(stderr, "velo-carve: cannot write the contact sheet %s\n",
                         (std::filesystem::path(o.outdir) / *o.sheetName).string().c_str());
    }
    if (!o.quiet) {
        std::string summary = summaryText(totals, sectorTotal, sectorBytes, carveSeconds, o.dryRun,
                                          o.rule == Rule::Jpeg ? verdicts.text() : "");
        if (!sheetTotals.empty())
            summary += "Contact sheet " +
                       (std::filesystem::path(o.outdir) / *o.sheetName).string() + ": " +
                       sheetTotals + "\n";
        std::fputs(summary.c_str(), stderr);
    }

    if (totals.stopped)
        return kExitStopped;
    if (totals.unreadableSectors || totals.failedFiles || !reportOk || reader->gone() ||
        (makeSheet && sheetTotals.empty()))
        return kExitIncomplete;
    return kExitDone;
}

} // namespace velo::cli
