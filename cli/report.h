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

// A CSV report on an open stream.
class ReportWriter
{
public:
    explicit ReportWriter(std::FILE* stream);
    void add(const CarvedFile& file);
    // Flushes; false when any write to the stream failed.
    bool finish();

private:
    std::FILE* stream_;
    bool ok_ = true;
};

} // namespace velo::cli
