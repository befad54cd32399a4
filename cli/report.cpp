#include "cli/report.h"

#include <cerrno>

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
    put(reportHeader());
}

bool ReportWriter::put(const std::string& text)
{
    if (!ok_)
        return false;
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), stream_) != text.size() ||
        std::fflush(stream_) != 0) {
        ok_ = false;
        error_ = errno != 0 ? errno : EIO;
    }
    return ok_;
}

bool ReportWriter::add(const CarvedFile& file)
{
    return put(reportLine(file));
}

bool ReportWriter::finish()
{
    if (ok_ && (std::fflush(stream_) != 0 || std::ferror(stream_))) {
        ok_ = false;
        error_ = errno != 0 ? errno : EIO;
    }
    return ok_;
}

} // namespace velo::cli
