#include "cli/report.h"

namespace velo::cli
{

const char* reasonWord(CloseReason reason)
{
    switch (reason) {
    case CloseReason::EndMarker:
        return "end-marker";
    case CloseReason::NextStart:
        return "next-start";
    case CloseReason::EndOfScan:
        return "end-of-source";
    case CloseReason::Stopped:
        return "stopped";
    }
    return "unknown";
}

const char* outcomeWord(FileOutcome outcome)
{
    switch (outcome) {
    case FileOutcome::Written:
        return "written";
    case FileOutcome::WriteFailed:
        return "write-failed";
    case FileOutcome::NotCreated:
        return "not-created";
    case FileOutcome::DryRun:
        return "dry-run";
    }
    return "unknown";
}

std::string reportHeader()
{
    return "name,first_sector,length,end,output\n";
}

std::string reportLine(const CarvedFile& f)
{
    // Names are DDnnn.JPG and the words have no commas, so nothing needs quoting.
    return f.name + ',' + std::to_string(f.firstSector) + ',' + std::to_string(f.length) + ',' +
           reasonWord(f.reason) + ',' + outcomeWord(f.outcome) + '\n';
}

ReportWriter::ReportWriter(std::FILE* stream) : stream_(stream)
{
    const std::string header = reportHeader();
    ok_ = std::fwrite(header.data(), 1, header.size(), stream_) == header.size();
}

void ReportWriter::add(const CarvedFile& file)
{
    const std::string line = reportLine(file);
    if (std::fwrite(line.data(), 1, line.size(), stream_) != line.size())
        ok_ = false;
}

bool ReportWriter::finish()
{
    if (std::fflush(stream_) != 0 || std::ferror(stream_))
        ok_ = false;
    return ok_;
}

} // namespace velo::cli
