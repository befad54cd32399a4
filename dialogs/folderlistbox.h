#pragma once

#include "dialogs/folderlist.h"

#include <QListWidget>

namespace velo
{

// A folder list in the manner of a directory list box: the open folder with its ancestors
// above and its subfolders below. A double-click opens the entry; a click or the arrow
// keys only move the highlight, so path() stays the open folder until then.
class FolderListBox : public QListWidget
{
    Q_OBJECT

public:
    explicit FolderListBox(QWidget* parent = nullptr);

    QString path() const { return openFolder_; }

    // Opens `folder` and rebuilds the list. When it cannot be listed nothing changes and
    // the answer is false.
    bool setPath(const QString& folder);

    static constexpr int kPathRole = Qt::UserRole;
    static constexpr int kDepthRole = Qt::UserRole + 1;

signals:
    void pathChanged(const QString& path);

private:
    QString openFolder_;
};

} // namespace velo
