#include "app/drivetable.h"

#include <cstdio>
#include <utility>

namespace velo
{

namespace
{

// Decimal units, as disks and cards are sold: a "32 GB" card shows as 31.9 GB.
std::string sizeText(std::uint64_t bytes)
{
    static constexpr std::pair<double, const char*> kUnits[] = {
        {1e12, "TB"}, {1e9, "GB"}, {1e6, "MB"}, {1e3, "kB"}};
    char text[64];
    for (const auto& [unit, name] : kUnits) {
        if (double(bytes) >= unit) {
            std::snprintf(text, sizeof text, "%.1f %s", double(bytes) / unit, name);
            return text;
        }
    }
    return std::to_string(bytes) + " バイト";
}

} // namespace

std::string driveToolTip(const DriveInfo& drive)
{
    if (!drive.details)
        return {};
    const DriveDetails& d = *drive.details;
    std::string text;
    auto line = [&text](const char* caption, const std::string& value) {
        if (value.empty())
            return;
        if (!text.empty())
            text += '\n';
        text += caption + value;
    };
    line("デバイス: ", d.device);
    line("容量: ", d.sizeBytes ? sizeText(*d.sizeBytes) : std::string());
    line("モデル: ", d.model);
    line("マウント先: ", drive.rootFolder.empty() ? std::string("なし") : drive.rootFolder);
    return text;
}

std::vector<DriveRow> driveRows(Platform& platform)
{
    std::vector<DriveRow> rows;
    for (const DriveInfo& drive : platform.drives()) {
        DriveRow& row =
            rows.emplace_back(DriveRow{drive.letter, std::nullopt, driveToolTip(drive)});
        if (const auto name = driveTypeName(drive.type))
            row.typeName = std::string(*name);
    }
    return rows;
}

} // namespace velo
