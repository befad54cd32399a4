#include "app/recoverycontroller.h"

#include "app/module1.h"
#include "drive/rawvolume.h"
#include "fields/fieldtext.h"
#include "fields/geometrytext.h"

#include <algorithm>
#include <exception>

namespace velo
{

namespace
{

// A failing start-up step is abandoned and the next one runs.
template <typename Step> void skipOnFailure(Step step)
{
    try {
        step();
    } catch (const std::exception&) {
    }
}

} // namespace

RecoveryController::RecoveryController(Platform& platform, WindowFields& window)
    : platform_(platform), window_(window)
{
}

RecoveryController::~RecoveryController() = default;

void RecoveryController::Form_Load()
{
    platformFlag_ = 0;
    platformFlag_ = IsWin9x(platform_);

    for (const DriveRow& row : driveRows(platform_))
        window_.addDriveRow(row);

    skipOnFailure([&] { KAI("C"); });
    skipOnFailure([&] { window_.setText(Field::Label13, " C"); });
    skipOnFailure([&] { window_.setText(Field::Label19, "C"); });
    skipOnFailure([&] {
        // Appended without looking: a program in a root folder gets a doubled separator.
        window_.setText(Field::Text1, platform_.programFolder() + platform_.pathSeparator());
    });
    skipOnFailure([&] { window_.setControlEnabled(Control::Command3, false); });
}

void RecoveryController::ListView1_ItemClick(const std::string& driveLetter)
{
    window_.setText(Field::Label13, " " + driveLetter);
    window_.setText(Field::Label19, driveLetter);
    KAI(driveLetter);
}

void RecoveryController::KAI(const std::string& driveLetter)
{
    const auto space = platform_.diskFreeSpace(rootPath(driveLetter, platform_.pathSeparator()));
    const auto texts = geometryTexts(space);
    window_.setText(Field::Label2, texts[SectorsPerCluster]);
    window_.setText(Field::Label3, texts[BytesPerSector]);
    window_.setText(Field::Label4, texts[FreeClusters]);
    window_.setText(Field::Label10, texts[TotalClusters]);
    window_.setText(Field::Label11, texts[TotalBytes]);
    window_.setText(Field::Label12, texts[FreeBytes]);
    window_.setText(Field::Label14,
                    totalSectorsText(window_.text(Field::Label10), window_.text(Field::Label2)));
}

void RecoveryController::Command2_Click()
{
    // The stop command enables this button while the stopped scan is still on its way
    // out (it returns at its next stop-flag test). A run clicked in that moment starts
    // once that scan has returned, never inside it: a nested scan would clear the stop
    // flag and reallocate the buffer the outer one still reads into.
    if (scanning_) {
        window_.runLater([this] { Command2_Click(); });
        return;
    }
    SYST();
}

void RecoveryController::Command3_Click()
{
    stopFlag_ = 1;
    window_.setControlVisible(Control::Picture1, false);
    window_.setControlEnabled(Control::Command4, true);
    window_.setControlEnabled(Control::Command3, false);
    window_.setControlEnabled(Control::Command2, true);
    window_.setControlEnabled(Control::Command1, true);
    if (files_)
        files_->stop(); // what was carved so far stays on disk as it is
    window_.focusDriveList();
}

void RecoveryController::windowClosing()
{
    // Stopping closes the open file whole, and the scan returns before the program ends.
    if (scanning_)
        Command3_Click();
}

void RecoveryController::showScanningState()
{
    window_.setControlVisible(Control::Picture1, true);
    window_.setControlEnabled(Control::Command4, false);
    window_.setControlEnabled(Control::Command3, true);
    window_.setControlEnabled(Control::Command2, false);
    window_.setControlEnabled(Control::Command1, false);
}

void RecoveryController::showIdleState()
{
    // The order matters for the keyboard focus: a button that is disabled while it has
    // the focus hands it to the next control that can take it. Disabling the stop button
    // before anything is enabled sends its focus round to the drive list, not onto the
    // exit button.
    window_.setControlVisible(Control::Picture1, false);
    window_.setControlEnabled(Control::Command3, false);
    window_.setControlEnabled(Control::Command4, true);
    window_.setControlEnabled(Control::Command2, true);
    window_.setControlEnabled(Control::Command1, true);
}

void RecoveryController::SYST()
{
    // Files saved onto the volume being scanned could overwrite the very photos the scan
    // is to find: the scan does not start, and the window stays as it was for the user to
    // choose another folder.
    if (const std::string letter = window_.text(Field::Label19);
        platform_.folderLiesOnDrive(saveFolder(), letter)) {
        window_.showMessage("La cartella di salvataggio si trova sul device " + letter +
                            ": sceglierne un'altra");
        return;
    }

    stopFlag_ = 0;
    window_.setText(Field::Label20, window_.text(Field::Label14));
    showScanningState();
    scanning_ = true;
    window_.runPendingEvents();

    const std::int64_t sectorBytes =
        std::max<std::int64_t>(0, fieldNumber(window_.text(Field::Label3)));
    if (sectorBytes > std::int64_t(kLargestSectorBytes)) { // a damaged field
        scanning_ = false;
        showIdleState();
        return;
    }
    sectorBuffer_.assign(std::size_t(sectorBytes) + 1, 0);
    sectorBufferAllocated_ = true;

    const std::string driveLetter = window_.text(Field::Label19);
    std::unique_ptr<RawVolume> volume =
        openRawVolume(platform_, platformFlag_, driveLetter, sectorBuffer_);
    if (!volume) {
        window_.showMessage("Errore nell'apertura del device " + driveLetter);
        scanning_ = false;
        showIdleState();
        return;
    }

    const std::int64_t sectorTotal = fieldNumber(window_.text(Field::Label14));
    files_.emplace(windowFiles(platform_, *this));
    const ScanEnd end =
        runRecoveryPasses(platform_, *this, *volume, sectorBuffer_, *files_, sectorTotal);
    volume.reset(); // the volume is released on every way out
    scanning_ = false;
    if (end == ScanEnd::Completed)
        showIdleState(); // after a stop the window is as the stop command left it
}

const std::vector<std::uint8_t>* RecoveryController::sectorBuffer() const
{
    return sectorBufferAllocated_ ? &sectorBuffer_ : nullptr;
}

void RecoveryController::showPass(std::uint64_t passNumber)
{
    window_.showPass(passNumber);
}

void RecoveryController::runPendingEvents()
{
    window_.runPendingEvents();
}

bool RecoveryController::stopRequested()
{
    return stopFlag_ == 1;
}

std::string RecoveryController::saveFolder()
{
    return window_.text(Field::Text1);
}

} // namespace velo
