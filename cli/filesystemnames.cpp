#include "cli/filesystemnames.h"

#include "scan/outputname.h"

#include <algorithm>
#include <cstring>

namespace velo::cli
{

std::string safeFileName(const std::string& name)
{
    std::string safe = name.substr(0, 200);
    // A cut inside a UTF-8 sequence leaves its lead byte without its followers: drop them.
    while (safe.size() < name.size() && !safe.empty() &&
           (static_cast<unsigned char>(safe.back()) & 0x80))
        safe.pop_back();
    for (char& c : safe) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || std::strchr("/\\:*?\"<>|", c))
            c = '_';
    }
    for (char& c : safe) {
        if (c != '.' && c != ' ')
            break;
        c = '_';
    }
    while (!safe.empty() && (safe.back() == ' ' || safe.back() == '.'))
        safe.pop_back();
    return safe;
}

FileSystemNames::FileSystemNames(OutputFolder* folder, std::filesystem::path folderPath,
                                 bool replace, const filesystem::FileSystemMap& map,
                                 std::uint32_t sectorBytes)
    : folder_(folder), folderPath_(std::move(folderPath)), replace_(replace), map_(map),
      sectorBytes_(sectorBytes)
{
}

std::string FileSystemNames::unique(const std::string& name)
{
    const std::size_t dot = name.rfind('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    const std::string extension = stem.size() == name.size() ? "" : name.substr(stem.size());
    for (unsigned n = 1;; ++n) {
        const std::string candidate = n == 1 ? name : stem + '-' + std::to_string(n) + extension;
        std::string key = candidate;
        std::transform(key.begin(), key.end(), key.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
        if (taken_.count(key) || (!replace_ && inFolder(candidate)))
            continue;
        taken_.insert(key);
        return candidate;
    }
}

bool FileSystemNames::inFolder(const std::string& name) const
{
    std::error_code error;
    const auto type = std::filesystem::symlink_status(folderPath_ / name, error).type();
    return type != std::filesystem::file_type::not_found &&
           type != std::filesystem::file_type::none;
}

OutputFolder* FileSystemNames::folderFor(std::uint64_t fileNumber, std::uint64_t firstSector,
                                         std::string& name)
{
    const filesystem::DeletedFile* onCard = map_.deletedAt(firstSector * sectorBytes_);
    const std::string fromCard = onCard ? safeFileName(onCard->name) : "";
    name = unique(fromCard.empty() ? outputFileName("", fileNumber) : fromCard);
    return folder_;
}

std::optional<std::int64_t> FileSystemNames::modifiedTimeFor(std::uint64_t firstSector)
{
    const filesystem::DeletedFile* onCard = map_.deletedAt(firstSector * sectorBytes_);
    if (!onCard || onCard->modified == 0)
        return std::nullopt;
    return onCard->modified;
}

} // namespace velo::cli
