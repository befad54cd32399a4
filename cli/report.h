#pragma once

#include "filesystem/filesystemmap.h"
#include "scan/filesink.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace velo::cli
{

// The word for an outcome, fixed so that scripts can match on it (the close reason's
// word is closeReasonWord).
const char* outcomeWord(FileOutcome outcome);
const char* verdictWord(Verdict verdict);

// The report's first line and the line of one file, both ending in a newline. With
// verdicts (the JPEG rule), two columns follow: the verdict and the sector ranges of the
// file's pieces. With names on the card (a file system was read), two more: the folder
// and name of the deleted file that started where this file does, and its modification
// time in this machine's time zone ("2026-06-02 14:31:05"); both empty when none did.
std::string reportHeader(bool verdicts = false, bool namesOnCard = false);
std::string reportLine(const CarvedFile& file);
std::string reportLine(const CarvedFile& file, const filesystem::DeletedFile* onCard);

// A text as one CSV field: quoted when it holds a comma, a quote or a line end, and
// control characters (which a crafted card may put in a name) shown as '?'.
std::string csvField(const std::string& text);

// The carved files counted by verdict, for the summary and the contact sheet. A file
// without a verdict (the window's rule checks none) counts as unchecked; a start that is
// no JPEG is no file and is counted apart.
struct VerdictTally {
    std::uint64_t files = 0;
    std::uint64_t complete = 0;
    std::uint64_t reassembled = 0;
    std::uint64_t uncertain = 0;
    std::uint64_t damaged = 0;
    std::uint64_t truncated = 0;
    std::uint64_t unchecked = 0;
    std::uint64_t notJpeg = 0;

    void add(const CarvedFile& file);
    // "9 complete, 1 reassembled, 0 uncertain, 1 damaged, 1 truncated", all five, when any file
    // has a verdict; "12 unchecked" when none has; "" without files.
    std::string text() const;
};

// A CSV report on an open stream. Each line is handed to the system as soon as it is
// added, so that the report of a run that is killed holds every file closed before.
// After a failed write nothing more is written: the report ends at its last whole line.
// With a file system's map, each file's line gives the deleted file it matches (the map
// must outlive the writer).
class ReportWriter
{
public:
    explicit ReportWriter(std::FILE* stream, bool verdicts = false,
                          const filesystem::FileSystemMap* onCard = nullptr,
                          std::uint32_t sectorBytes = 512);
    // False when this or an earlier write failed.
    bool add(const CarvedFile& file);
    // Flushes; false when any write to the stream failed.
    bool finish();
    // errno of the first failed write; 0 while none failed.
    int error() const { return error_; }

private:
    bool put(const std::string& text);

    std::FILE* stream_;
    const filesystem::FileSystemMap* onCard_;
    std::uint32_t sectorBytes_;
    bool ok_ = true;
    int error_ = 0;
};

} // namespace velo::cli
