#pragma once

#include "platform/platform.h"

#include <QString>

#include <optional>
#include <vector>

namespace velo
{

// One line of the folder list: the open folder's ancestors from the root down, the open
// folder itself, then its subfolders one level deeper.
struct FolderEntry {
    QString path;      // absolute, clean, no trailing separator except for the root
    QString label;     // the folder's own name; the root shows as "/" (on Windows "C:\")
    int depth = 0;     // 0 for the root
    bool open = false; // ancestors and the open folder are shown open, subfolders closed

    bool operator==(const FolderEntry&) const = default;
};

// `folder` made absolute (against the process's current folder) and clean, with '/' as
// its separator; on Windows it always starts with its drive ("C:/").
QString normalFolder(const QString& folder);

// Whether `folder` is a folder whose entries can be read. Touches only that folder, so
// that merely listing drives never waits on a slow network mount.
bool canListFolder(const QString& folder);

// The lines for `folder` opened; subfolders sorted by name, case aside, hidden ones left
// out. Nothing when the folder cannot be listed.
std::optional<std::vector<FolderEntry>> folderEntries(const QString& folder);

// The drive whose root folder holds `folder` most closely (the longest root that is a
// whole-name prefix of it); -1 when none does. Drives with nothing mounted hold nothing.
int driveOfFolder(const std::vector<DriveInfo>& drives, const QString& folder);

// How a drive appears in the drive list: "c: [/]", or "e:" when nothing is mounted.
QString driveLabel(const DriveInfo& drive);

} // namespace velo
