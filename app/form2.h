#pragma once

#include "app/eventpace.h"
#include "app/recoverycontroller.h"
#include "app/windowfields.h"
#include "platform/platform.h"

#include <QWidget>

#include <array>
#include <cstdint>
#include <vector>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace velo
{

class PassCounterLabel;
class SlantedLine;

// The main window: the drive list, the geometry grid, the progress panel, the save
// folder and the four commands. It lays out the controls and hands their events to the
// RecoveryController, which reads and writes them through WindowFields. Every control
// carries its name as its object name, for findChild.
class Form2 : public QWidget, private WindowFields
{
    Q_OBJECT
public:
    explicit Form2(Platform& platform, QWidget* parent = nullptr);
    ~Form2() override;

    void DUMP(); // the sector buffer as a hex dump in Text1

    // The last sector read, one byte longer than a sector; absent before the first scan.
    const std::vector<std::uint8_t>* sectorBuffer() const;
    bool scanning() const;

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    void Command1_Click(); // change the save folder
    void Command4_Click(); // exit
    void ListView1_ItemClick(QTreeWidgetItem* item);

private:
    void createControls();
    void createGrid();
    void createProgressPanel();
    void setFocusOrder();

    QLabel* fieldLabel(Field field) const;
    QWidget* controlWidget(Control control) const;

    // WindowFields
    std::string text(Field field) const override;
    void setText(Field field, const std::string& text) override;
    void setControlEnabled(Control control, bool enabled) override;
    void setControlVisible(Control control, bool visible) override;
    void addDriveRow(const DriveRow& row) override;
    void focusDriveList() override;
    void showPass(std::uint64_t passNumber) override;
    void runPendingEvents() override;
    void runLater(std::function<void()> task) override;
    void showMessage(const std::string& text) override;

    Platform& platform_;
    RecoveryController controller_;
    EventPace eventPace_;

    // Controls, named as everywhere else in the program.
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    std::array<QLabel*, 2> Label5; // a control array: element 1 heads the grid
    QLabel* Label6;
    QLabel* Label7;
    QLabel* Label8;
    QLabel* Label9;
    QLabel* Label10;
    QLabel* Label11;
    QLabel* Label12;
    QLabel* Label13;
    QLabel* Label14;
    QLabel* Label15;
    QLabel* Label16;
    PassCounterLabel* Label17;
    QLabel* Label18;
    QLabel* Label19;
    QLabel* Label20;
    QLabel* Label21;
    QTreeWidget* ListView1;
    QFrame* Picture1;
    SlantedLine* Line1;
    QLineEdit* Text1;
    QPushButton* Command1;
    QPushButton* Command2;
    QPushButton* Command3;
    QPushButton* Command4;
};

// The title of the program's message boxes.
inline constexpr const char* kApplicationTitle = "velo-recovery";

} // namespace velo
