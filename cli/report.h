#pragma once

#include "scan/carver.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace velo::cli
{

// What became of a carved file's bytes.
enum class FileOutcome {
    Written,     // every byte is in the file
    WriteFailed, // the file holds an exact prefix: a write failed (disk full, I/O error)
    NotCreated,  // the file could not be created; its number is used up all the same
    DryRun,      // nothing was to be written
};

struct CarvedFile {
    std::string name; // DD001.JPG
    std::uint64_t firstSector = 0;
    std::uint64_t length = 0; // bytes carved, whether or not they reached the disk
    CloseReason reason = CloseReason::EndOfScan;
    FileOutcome outcome = FileOutcome::Written;
};

// The words the report uses, fixed so that scripts can match on them.
const char* reasonWord(CloseReason reason);
const char* outcomeWord(FileOutcome outcome);

// The report's first line and the line of one file, both ending in a newline.
std::string reportHeader();
std::string reportLine(const CarvedFile& file);

// A CSV report on an open stream. Each line is handed to the system as soon as it is
// added, so that the report of a run that is killed holds every file closed before.
// After a failed write nothing more is written: the report ends at its last whole line.
class ReportWriter
{
public:
    explicit ReportWriter(std::FILE* stream);
    // False when this or an earlier write failed.
    bool add(const CarvedFile& file);
    // Flushes; false when any write to the stream failed.
    bool finish();
    // errno of the first failed write; 0 while none failed.
    int error() const { return error_; }

private:
    bool put(const std::string& text);

    std::FILE* stream_;
    bool ok_ = true;
    int error_ = 0;
};

} // namespace velo::cli
