#include "cli/sheetentry.h"

#include "cli/exifdate.h"

#include <filesystem>
#include <fstream>

namespace velo::cli
{

namespace
{

// The first `most` bytes of a regular file; empty (why set) when it cannot be read.
std::vector<std::uint8_t> readStart(const std::filesystem::path& path, std::size_t most,
                                    std::string& why)
{
    std::error_code ec;
    // Only a plain file: a folder, a device or a pipe put under the name since is not read.
    if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(path, ec))) {
        why = "the file is not there to read";
        return {};
    }
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    std::ifstream in(path, std::ios::binary);
    if (ec || !in) {
        why = "the file cannot be read";
        return {};
    }
    std::vector<std::uint8_t> bytes(std::size_t(std::min<std::uintmax_t>(size, most)));
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
    bytes.resize(std::size_t(in.gcount()));
    return bytes;
}

} // namespace

SheetEntry SheetEntry::read(const CarvedFile& file, const std::string& folder, bool previews)
{
    SheetEntry e;
    e.file = file;
    if (file.outcome == FileOutcome::NotCreated) {
        e.thumbnail.note = "the file could not be created";
        return e;
    }
    std::string why;
    const std::size_t most = previews ? Thumbnail::kMostInputBytes : std::size_t(1) << 16;
    const std::vector<std::uint8_t> bytes =
        readStart(std::filesystem::path(folder) / file.name, most, why);
    e.cameraDate = exifDate(bytes);
    if (!previews) {
        e.thumbnail.outcome = Thumbnail::Outcome::Skipped;
        e.thumbnail.note = "the run was stopped before thumbnails were made";
        return e;
    }
    if (!why.empty()) {
        e.thumbnail.note = why;
        return e;
    }
    e.thumbnail = Thumbnail::of(bytes);
    return e;
}

bool SheetEntry::broken() const
{
    if (file.verdict &&
        (file.verdict->verdict == Verdict::Damaged || file.verdict->verdict == Verdict::Truncated))
        return true;
    if (file.outcome != FileOutcome::Written)
        return true;
    return thumbnail.outcome == Thumbnail::Outcome::Failed ||
           thumbnail.outcome == Thumbnail::Outcome::WithErrors;
}

} // namespace velo::cli
