#include "scan/recoveryscan.h"

#include "scan/carver.h"
#include "scan/outputname.h"

namespace velo
{

namespace
{

// The folder is opened again only when the folder part of the name changes.
class SaveFolderFiles : public FilePlace
{
public:
    SaveFolderFiles(Platform& platform, ScanHost& host) : platform_(platform), host_(host) {}

    OutputFolder* folderFor(std::uint64_t fileNumber, std::uint64_t, std::string& name) override
    {
        const std::string full = outputFileName(host_.saveFolder(), fileNumber);
        const std::size_t cut = full.rfind(platform_.pathSeparator());
        const std::string folderPath = cut == std::string::npos ? "." : full.substr(0, cut + 1);
        name = cut == std::string::npos ? full : full.substr(cut + 1);
        if (!folder_ || folderPath != folderPath_) {
            folder_ = platform_.openOutputFolder(folderPath);
            folderPath_ = folderPath;
        }
        return folder_.get();
    }

private:
    Platform& platform_;
    ScanHost& host_;
    std::unique_ptr<OutputFolder> folder_;
    std::string folderPath_;
};

std::string withSeparator(std::string folder, char separator)
{
    if (folder.empty() || folder.back() != separator)
        folder += separator;
    return folder;
}

} // namespace

FileSink windowFiles(Platform& platform, ScanHost& host)
{
    return FileSink(std::make_unique<SaveFolderFiles>(platform, host), IfNameTaken::Replace);
}

ScanEnd runRecoveryPasses(Platform& platform, ScanHost& host, RawVolume& volume,
                          std::vector<std::uint8_t>& sectorBuffer, FileSink& files,
                          std::int64_t sectorTotal)
{
    const std::string programFolder =
        withSeparator(platform.programFolder(), platform.pathSeparator());
    platform.createFolder(programFolder + "DAT"); // kept for its own sake; nothing uses it

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
        files.atSector(std::uint64_t(pass - 1));
        carver.sector(sector.first(*bytesRead));
        files.flush(); // the next pass reads into the same buffer
    }
    carver.finish(CloseReason::EndOfScan);
    return ScanEnd::Completed;
}

} // namespace velo
