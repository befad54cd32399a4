#include "scan/recoveryscan.h"

#include "scan/carver.h"
#include "scan/outputname.h"

namespace velo
{

namespace
{

// Carved bytes go to files in the output slot. A file that could not be created leaves
// the slot empty and its bytes go nowhere, but its number is used up all the same.
//
// The save folder is opened once and files are made by name inside it; it is opened
// again only when the save-folder text changes. Every scan numbers from DD001.JPG, so a
// same-named file of an earlier scan is replaced: its name is removed and a new file
// created, and a link planted under that name is never written through.
class SlotFiles : public CarveEvents
{
public:
    SlotFiles(Platform& platform, ScanHost& host, std::unique_ptr<OutputFile>& slot)
        : platform_(platform), host_(host), slot_(slot)
    {
    }

    void openFile(std::uint64_t fileNumber) override
    {
        const std::string folderText = host_.saveFolder();
        if (!folder_ || folderText != folderText_) {
            folder_ = platform_.openOutputFolder(folderText);
            folderText_ = folderText;
        }
        CreateFailure failure = CreateFailure::None;
        slot_ = folder_ ? folder_->createFile(outputFileName("", fileNumber), IfNameTaken::Replace,
                                              failure)
                        : nullptr;
    }

    void append(std::span<const std::uint8_t> bytes) override
    {
        if (slot_)
            slot_->write(bytes); // a failed write is skipped; the file keeps what it has
    }

    void closeFile(CloseReason) override
    {
        if (slot_) {
            slot_->close();
            slot_.reset();
        }
    }

private:
    Platform& platform_;
    ScanHost& host_;
    std::unique_ptr<OutputFile>& slot_;
    std::unique_ptr<OutputFolder> folder_;
    std::string folderText_;
};

std::string withSeparator(std::string folder, char separator)
{
    if (folder.empty() || folder.back() != separator)
        folder += separator;
    return folder;
}

} // namespace

ScanEnd runRecoveryPasses(Platform& platform, ScanHost& host, RawVolume& volume,
                          std::vector<std::uint8_t>& sectorBuffer,
                          std::unique_ptr<OutputFile>& outputSlot, std::int64_t sectorTotal)
{
    const std::string programFolder =
        withSeparator(platform.programFolder(), platform.pathSeparator());
    platform.createFolder(programFolder + "DAT"); // kept for its own sake; nothing uses it

    SlotFiles files(platform, host, outputSlot);
    Carver carver(files);
    // The buffer has one byte more than a sector, which stays zero.
    const std::span<std::uint8_t> sector(sectorBuffer.data(),
                                         sectorBuffer.empty() ? 0 : sectorBuffer.size() - 1);

    for (std::int64_t pass = 1; pass <= sectorTotal; ++pass) {
        host.showPass(std::uint64_t(pass));
        host.runPendingEvents();
        if (host.stopRequested())
            return ScanEnd::Stopped;
        const auto bytesRead = volume.readNextSector(sector, std::uint64_t(pass));
        if (!bytesRead)
            continue; // an unreadable sector is skipped; an open file simply lacks it
        carver.sector(sector.first(*bytesRead));
    }
    carver.finish(CloseReason::EndOfScan);
    return ScanEnd::Completed;
}

} // namespace velo
