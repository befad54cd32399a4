#pragma once

#include "app/windowfields.h"
#include "platform/platform.h"
#include "scan/recoveryscan.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velo
{

// What the main window does, without its widgets: start-up, the choice of a drive and
// its geometry (KAI), the scan (SYST) and the stop. It reads and writes the window only
// through its fields, which are the program's state: the selected drive, its geometry and
// the save folder live nowhere else. It owns the two program-wide flags, the sector
// buffer and the scan's files, which outlive a scan.
class RecoveryController : private ScanHost
{
public:
    RecoveryController(Platform& platform, WindowFields& window);
    ~RecoveryController() override;

    // The window's events.
    void Form_Load(); // once, before the window is first shown
    void ListView1_ItemClick(const std::string& driveLetter);
    void Command2_Click(); // run
    void Command3_Click(); // stop
    void windowClosing();  // a scan still running is stopped first

    void KAI(const std::string& driveLetter); // a drive's geometry into the grid
    // The recovery scan; not started, with one message, when the save folder lies on the
    // drive to be scanned.
    void SYST();

    // 1 on the 95/98/Me family, whose raw sectors come through the VWIN32 service; 0
    // everywhere else. Written only at start-up.
    int platformFlag() const { return platformFlag_; }
    // The scan clears it when it starts; the stop command sets it to 1.
    int stopFlag() const { return stopFlag_; }
    bool scanning() const { return scanning_; }
    // The last sector read, one byte longer than a sector; absent before the first scan.
    const std::vector<std::uint8_t>* sectorBuffer() const;

private:
    void showScanningState();
    void showIdleState();

    // ScanHost
    void showPass(std::uint64_t passNumber) override;
    void runPendingEvents() override;
    bool stopRequested() override;
    std::string saveFolder() override;

    Platform& platform_;
    WindowFields& window_;
    int platformFlag_ = 0;
    int stopFlag_ = 0;
    bool scanning_ = false;
    std::vector<std::uint8_t> sectorBuffer_;
    bool sectorBufferAllocated_ = false;
    std::optional<FileSink> files_; // where the running scan's files go
};

} // namespace velo
