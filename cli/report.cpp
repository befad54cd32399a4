#include "cli/report.h"

#include <cerrno>

namespace velo::cli
{

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
    case FileOutcome::NotWritten:
        return "not-written";
    }
    return "unknown";
}

const char* verdictWord(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Complete:
        return "complete";
    case Verdict::Truncated:
        return "truncated";
    case Verdict::Reassembled:
        return "reassembled";
    case Verdict::Uncertain:
        return "uncertain";
    case Verdict::Damaged:
        return "damaged";
    case Verdict::NotJpeg:
        return "not-jpeg";
    }
    return "unknown";
}

std::string reportHeader(bool verdicts)
{
    return verdicts ? "name,first_sector,length,end,output,verdict,pieces\n"
                    : "name,first_sector,length,end,output\n";
}

std::string reportLine(const CarvedFile& f)
{
    // Names are DDnnn.JPG and the words have no commas, so nothing needs quoting.
    std::string line = f.name + ',' + std::to_string(f.firstSector) + ',' +
                       std::to_string(f.length) + ',' + closeReasonWord(f.reason) + ',' +
                       outcomeWord(f.outcome);
    if (f.verdict) {
        // Pieces as first-last sector ranges, separated by blanks: "2051-2300 2500-2600".
        line += ',';
        line += verdictWord(f.verdict->verdict);
        line += ',';
        for (std::size_t i = 0; i < f.verdict->pieces.size(); ++i) {
            const SectorRange& r = f.verdict->pieces[i];
            line += (i ? " " : "") + std::to_string(r.first) + '-' + std::to_string(r.last);
        }
    }
    return line + '\n';
}

void VerdictTally::add(const CarvedFile& f)
{
    if (f.outcome == FileOutcome::NotWritten) {
        ++notJpeg;
        return;
    }
    ++files;
    if (!f.verdict) {
        ++unchecked;
        return;
    }
    switch (f.verdict->verdict) {
    case Verdict::Complete:
        ++complete;
        break;
    case Verdict::Reassembled:
        ++reassembled;
        break;
    case Verdict::Uncertain:
        ++uncertain;
        break;
    case Verdict::Damaged:
        ++damaged;
        break;
    case Verdict::Truncated:
        ++truncated;
        break;
    case Verdict::NotJpeg:
        ++notJpeg, --files;
        break;
    }
}

std::string VerdictTally::text() const
{
    if (files == 0)
        return "";
    if (unchecked == files)
        return std::to_string(unchecked) + " unchecked";
    std::string s = std::to_string(complete) + " complete, " + std::to_string(reassembled) +
                    " reassembled, " + std::to_string(uncertain) + " uncertain, " +
                    std::to_string(damaged) + " damaged, " + std::to_string(truncated) +
                    " truncated";
    if (unchecked)
        s += ", " + std::to_string(unchecked) + " unchecked";
    return s;
}

ReportWriter::ReportWriter(std::FILE* stream, bool verdicts) : stream_(stream)
{
    put(reportHeader(verdicts));
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
