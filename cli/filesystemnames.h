#pragma once

#include "filesystem/filesystemmap.h"
#include "scan/filesink.h"

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>

namespace velo::cli
{

// Names the carved files after the deleted files the file system still lists: a photo
// that starts where one did gets its name (made safe: no separator, no control
// character, no leading dot) and keeps its modification time; the others are named
// DD001.JPG, ... by number. Every name is given once per run, whatever its case, and
// unless `replace` never that of a file already in the folder: a second IMG_2041.JPG
// becomes IMG_2041-2.JPG. The map must outlive the place.
class FileSystemNames : public FilePlace
{
public:
    FileSystemNames(OutputFolder* folder, std::filesystem::path folderPath, bool replace,
                    const filesystem::FileSystemMap& map, std::uint32_t sectorBytes);

    OutputFolder* folderFor(std::uint64_t fileNumber, std::uint64_t firstSector,
                            std::string& name) override;
    std::optional<std::int64_t> modifiedTimeFor(std::uint64_t firstSector) override;

private:
    std::string unique(const std::string& name);
    bool inFolder(const std::string& name) const;

    OutputFolder* folder_;
    std::filesystem::path folderPath_;
    bool replace_;
    const filesystem::FileSystemMap& map_;
    std::uint32_t sectorBytes_;
    std::set<std::string> taken_; // lower-cased
};

// A name from a card as a plain file name: separators, control characters and the
// characters Windows forbids become '_', a leading dot or space too, and it is cut to 200
// bytes; "" when nothing is left.
std::string safeFileName(const std::string& name);

} // namespace velo::cli
