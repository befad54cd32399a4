#pragma once

#include "platform/platform.h"
#include "scan/recoveryscan.h"

#include <QWidget>

#include <array>
#include <cstdint>
#include <memory>
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
// folder and the four commands. Its controls are also the program's state: the selected
// drive, its geometry and the save folder live only as their texts.
class Form2 : public QWidget, private ScanHost
{
    Q_OBJECT
public:
    explicit Form2(Platform& platform, QWidget* parent = nullptr);
    ~Form2() override;

    void KAI(const QString& driveLetter); // shows a drive's geometry in the grid
    void SYST();                          // the recovery scan
    void DUMP();                          // the sector buffer as a hex dump in Text1

    // The last sector read, one byte longer than a sector; absent before the first scan.
    const std::vector<std::uint8_t>* sectorBuffer() const;
    bool scanning() const { return scanning_; }
    int stopFlag() const { return stopFlag_; }

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

public slots:
    void Command1_Click(); // change the save folder
    void Command2_Click(); // run
    void Command3_Click(); // stop
    void Command4_Click(); // exit
    void ListView1_ItemClick(QTreeWidgetItem* item);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();
    void createGrid();
    void createProgressPanel();
    void setFocusOrder();
    void Form_Load();
    void setScanningState(bool scanning);
    void showOpenFailure(const QString& driveLetter);

    // ScanHost
    void showPass(std::uint64_t passNumber) override;
    void runPendingEvents() override;
    bool stopRequested() override;
    std::string saveFolder() override;

    Platform& platform_;
    std::vector<std::uint8_t> sectorBuffer_;
    bool sectorBufferAllocated_ = false;
    std::unique_ptr<OutputFile> outputSlot_; // the file the running scan writes
    bool scanning_ = false;
    int stopFlag_ = 0; // the scan clears it, the stop command sets it to 1
};

// The title of the program's message boxes.
inline constexpr const char* kApplicationTitle = "velo-recovery";

} // namespace velo
