#include "scan/filesink.h"

#include "scan/outputname.h"

namespace velo
{

namespace
{

class NumberedFiles : public FilePlace
{
public:
    explicit NumberedFiles(OutputFolder* folder) : folder_(folder) {}
    OutputFolder* folderFor(std::uint64_t fileNumber, std::uint64_t, std::string& name) override
    {
        name = outputFileName("", fileNumber);
        return folder_;
    }

private:
    OutputFolder* folder_;
};

} // namespace

std::unique_ptr<FilePlace> numberedFilesIn(OutputFolder* folder)
{
    return std::make_unique<NumberedFiles>(folder);
}

FileSink::FileSink(std::unique_ptr<FilePlace> place, IfNameTaken ifTaken, SinkHooks hooks,
                   bool dryRun)
    : place_(std::move(place)), ifTaken_(ifTaken), hooks_(std::move(hooks)), dryRun_(dryRun)
{
}

void FileSink::openFile(std::uint64_t fileNumber)
{
    open_ = true;
    current_ = CarvedFile{};
    current_.firstSector = sector_;
    OutputFolder* folder = place_->folderFor(fileNumber, sector_, current_.name);
    if (dryRun_) {
        current_.outcome = FileOutcome::DryRun;
        return;
    }
    CreateFailure failure = CreateFailure::Other;
    if (folder)
        file_ = folder->createFile(current_.name, ifTaken_, failure);
    current_.outcome = file_ ? FileOutcome::Written : FileOutcome::NotCreated;
    if (file_)
        if (const std::optional<std::int64_t> modified = place_->modifiedTimeFor(sector_))
            file_->keepModifiedTime(*modified);
    if (failure == CreateFailure::NoSpace && ++totals_.noSpaceFiles == 1 && hooks_.outOfSpace)
        hooks_.outOfSpace();
}

void FileSink::append(std::span<const std::uint8_t> bytes)
{
    current_.length += bytes.size();
    if (!file_ || current_.outcome != FileOutcome::Written)
        return;
    if (!pending_.empty() && pending_.data() + pending_.size() == bytes.data()) {
        pending_ = {pending_.data(), pending_.size() + bytes.size()};
        return;
    }
    flush();
    pending_ = bytes;
}

void FileSink::flush()
{
    if (!pending_.empty() && file_ && current_.outcome == FileOutcome::Written &&
        !file_->write(pending_))
        current_.outcome = FileOutcome::WriteFailed;
    pending_ = {};
}

void FileSink::verdict(const FileVerdict& v)
{
    if (v.verdict != Verdict::NotJpeg) {
        current_.verdict = v;
        return;
    }
    CarvedFile none;
    none.firstSector = sector_;
    none.reason = CloseReason::BadData;
    none.outcome = FileOutcome::NotWritten;
    none.verdict = v;
    if (hooks_.fileClosed)
        hooks_.fileClosed(none);
}

void FileSink::closeFile(CloseReason reason)
{
    if (!open_)
        return;
    flush();
    open_ = false;
    if (file_) {
        if (!file_->close() && current_.outcome == FileOutcome::Written)
            current_.outcome = FileOutcome::WriteFailed;
        file_.reset();
    }
    current_.reason = reason;
    ++totals_.files;
    totals_.bytes += current_.length;
    if (current_.outcome == FileOutcome::WriteFailed || current_.outcome == FileOutcome::NotCreated)
        ++totals_.failedFiles;
    if (hooks_.fileClosed)
        hooks_.fileClosed(current_);
}

} // namespace velo
