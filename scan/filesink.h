#pragma once

#include "platform/platform.h"
#include "scan/carver.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace velo
{

// What became of a carved file's bytes.
enum class FileOutcome {
    Written,     // every byte is in the file
    WriteFailed, // the file holds an exact prefix: a write or the close failed
    NotCreated,  // the file could not be created; its number is used up all the same
    DryRun,      // nothing was to be written
    NotWritten,  // the JPEG rule found no JPEG at this start; no file, no number
};

struct CarvedFile {
    std::string name; // DD001.JPG
    std::uint64_t firstSector = 0;
    std::uint64_t length = 0; // bytes carved, whether or not they reached the disk
    CloseReason reason = CloseReason::EndOfScan;
    FileOutcome outcome = FileOutcome::Written;
    std::optional<FileVerdict> verdict = std::nullopt; // given by the JPEG rule only
};

struct FileTotals {
    std::uint64_t files = 0;        // closed files, the one cut by a stop included
    std::uint64_t bytes = 0;        // carved bytes, written or not
    std::uint64_t failedFiles = 0;  // files that are missing or hold only a prefix
    std::uint64_t noSpaceFiles = 0; // files not created: the output is out of space or inodes
};

// Where file N, carved from `firstSector` on, is made: the folder, and in `name` the plain
// name inside it. A null folder means it cannot be made.
class FilePlace
{
public:
    virtual ~FilePlace() = default;
    virtual OutputFolder* folderFor(std::uint64_t fileNumber, std::uint64_t firstSector,
                                    std::string& name) = 0;
    // The modification time the file made for `firstSector` is to keep; none keeps the
    // time it is written at.
    virtual std::optional<std::int64_t> modifiedTimeFor(std::uint64_t /*firstSector*/)
    {
        return std::nullopt;
    }
};

// DD001.JPG, DD002.JPG, ... in one folder opened beforehand (null: none is made).
std::unique_ptr<FilePlace> numberedFilesIn(OutputFolder* folder);

struct SinkHooks {
    std::function<void(const CarvedFile&)> fileClosed;
    std::function<void()> outOfSpace; // the first file not created for want of space
};

// A carving rule's files on disk: creates each file through its place, appends, closes,
// and keeps each file's outcome and the totals. Spans that lie side by side in memory
// are gathered and written as one, so a photo costs a few large writes; flush() hands
// them over and must run before the memory they lie in is reused.
class FileSink : public CarveEvents
{
public:
    FileSink(std::unique_ptr<FilePlace> place, IfNameTaken ifTaken, SinkHooks hooks = {},
             bool dryRun = false);

    // The sector the next openFile comes from, for the file's record.
    void atSector(std::uint64_t sector) { sector_ = sector; }

    void openFile(std::uint64_t fileNumber) override;
    void append(std::span<const std::uint8_t> bytes) override;
    void closeFile(CloseReason reason) override; // nothing when no file is open
    // The JPEG rule's finding on the file about to close; for a start that is no JPEG,
    // a record of its own with no file behind it.
    void verdict(const FileVerdict& v) override;
    void flush();

    // The stop command: the open file is closed where it stands.
    void stop() { closeFile(CloseReason::Stopped); }

    const FileTotals& totals() const { return totals_; }

private:
    std::unique_ptr<FilePlace> place_;
    IfNameTaken ifTaken_;
    SinkHooks hooks_;
    bool dryRun_;
    std::uint64_t sector_ = 0;
    bool open_ = false;
    CarvedFile current_;
    std::unique_ptr<OutputFile> file_;
    std::span<const std::uint8_t> pending_;
    FileTotals totals_;
};

} // namespace velo
