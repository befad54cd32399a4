#pragma once

#include "platform/platform.h"

#include <QDialog>

#include <optional>
#include <vector>

class QComboBox;
class QPushButton;

namespace velo
{

class FolderListBox;

// The save-folder dialog: a drive list, a folder list and OK / cancel. OK chooses the open
// folder, ending in the path separator; any other way out chooses nothing. Every opening
// starts from the process's current drive and folder.
class Form1 : public QDialog
{
    Q_OBJECT

public:
    explicit Form1(Platform& platform, QWidget* parent = nullptr);

    // Opens a fresh dialog with no owner window, modal to the whole application, and
    // returns, once it has closed and been deleted, the folder chosen with OK.
    static std::optional<QString> chooseFolder(Platform& platform);

    // The folder chosen with OK, ending in one separator; nothing before OK.
    const std::optional<QString>& chosenFolder() const { return chosenFolder_; }

protected:
    // Esc does not cancel here: the dialog is left with one of its two buttons or from the
    // title bar.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void driveChanged(int index);
    void showDriveOfOpenFolder();
    void acceptFolder();

    Platform& platform_;
    std::optional<QString> chosenFolder_;
    std::vector<DriveInfo> drives_;
    QComboBox* Drive1;
    FolderListBox* Dir1;
    QPushButton* Command1;
    QPushButton* Command2;
};

} // namespace velo
