#pragma once

#include "platform/platform.h"

#include <QDialog>

#include <vector>

class QComboBox;
class QLineEdit;
class QPushButton;

namespace velo
{

class FolderListBox;

// The save-folder dialog: a drive list, a folder list and OK / cancel. OK writes the open
// folder, ending in the path separator, into the main window's save-folder field; any
// other way out leaves that field alone. Every opening starts from the process's current
// drive and folder.
class Form1 : public QDialog
{
    Q_OBJECT

public:
    Form1(Platform& platform, QLineEdit& text1, QWidget* parent = nullptr);

    // Opens a fresh dialog with no owner window, modal to the whole application, and
    // returns once it has closed and been deleted.
    static void showFor(Platform& platform, QLineEdit& text1);

protected:
    // Esc does not cancel here: the dialog is left with one of its two buttons or from the
    // title bar.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void driveChanged(int index);
    void showDriveOfOpenFolder();
    void acceptFolder();

    Platform& platform_;
    QLineEdit& text1_;
    std::vector<DriveInfo> drives_;
    QComboBox* Drive1;
    FolderListBox* Dir1;
    QPushButton* Command1;
    QPushButton* Command2;
};

} // namespace velo
