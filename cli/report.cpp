#include "cli/report.h"

#include <cerrno>
#include <ctime>

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

std::string reportHeader(bool verdicts, bool namesOnCard)
{
    std::string header = "name,first_sector,length,end,output";
    if (verdicts)
        header += ",verdict,pieces";
    if (namesOnCard)
        header += ",name_on_card,modified";
    return header + '\n';
}

std::string csvField(const std::string& text)
{
    std::string field;
    bool quote = false;
    for (const char c : text) {
        if (c == '"' || c == ',' || c == '\n' || c == '\r')
            quote = true;
        if (c == '"')
            field += '"';
        field += (c >= 0 && c < ' ' && c != '\n' && c != '\r') || c == 0x7F ? '?' : c;
    }
    return quote ? '"' + field + '"' : field;
}

namespace
{

std::string localTimeText(std::int64_t unixSeconds)
{
    if (unixSeconds == 0)
        return "";
    const std::time_t t = std::time_t(unixSeconds);
    std::tm local{};
    char text[32];
#ifdef _WIN32
    if (localtime_s(&local, &t) != 0)
        return "";
#else
    if (!localtime_r(&t, &local))
        return "";
#endif
    if (!std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local))
        return "";
    return text;
}

} // namespace

std::string reportLine(const CarvedFile& file, const filesystem::DeletedFile* onCard)
{
    std::string line = reportLine(file);
    line.pop_back(); // the line end, put back after the two columns
    if (onCard)
        line +=
            ',' + csvField(onCard->folder + onCard->name) + ',' + localTimeText(onCard->modified);
    else
        line += ",,";
    return line + '\n';
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

ReportWriter::ReportWriter(std::FILE* stream, bool verdicts,
                           const filesystem::FileSystemMap* onCard, std::uint32_t sectorBytes)
    : stream_(stream), onCard_(onCard), sectorBytes_(sectorBytes)
{
    put(reportHeader(verdicts, onCard != nullptr));
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
    if (!onCard_)
        return put(reportLine(file));
    return put(reportLine(file, onCard_->deletedAt(file.firstSector * sectorBytes_)));
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
