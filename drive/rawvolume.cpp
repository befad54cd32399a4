#include "drive/rawvolume.h"

#include "drive/registerblock.h"

namespace velo
{

namespace
{

constexpr std::uint32_t kVwin32AbsoluteDiskRead = 2; // INT 25h

// 95/98/Me: every read is a device-control call to VWIN32 with a register block that
// names drive, sector and buffer. The starting sector is set to the pass number after
// each read, failed or not, so pass i always asks for sector i − 1.
class Vwin32Volume : public RawVolume
{
public:
    Vwin32Volume(std::unique_ptr<DeviceHandle> device, const std::string& driveLetter,
                 std::span<std::uint8_t> sectorBuffer)
        : device_(std::move(device)), buffer_(sectorBuffer)
    {
        registers_.eax = driveNumber(driveLetter);
        registers_.ecx = 1;
        // Only the low 32 bits of the address fit; the device is handed the buffer itself.
        registers_.ebx = std::uint32_t(reinterpret_cast<std::uintptr_t>(sectorBuffer.data()));
    }

    std::optional<std::size_t> readNextSector(std::span<std::uint8_t> sector,
                                              std::uint64_t passNumber) override
    {
        const auto request = registers_.bytes();
        std::array<std::uint8_t, RegisterBlock::kBytes> returned{};
        std::uint32_t transferred = 0;
        const bool ok =
            device_->control(kVwin32AbsoluteDiskRead, request, returned, transferred, buffer_);
        // The service numbers sectors in 32 bits; beyond that the number wraps.
        registers_.edx = std::uint32_t(passNumber);
        if (!ok)
            return std::nullopt;
        return sector.size();
    }

private:
    std::unique_ptr<DeviceHandle> device_;
    std::span<std::uint8_t> buffer_;
    RegisterBlock registers_;
};

// NT family and Linux: the volume device read sequentially, S bytes per call, never
// positioned.
class VolumeDevice : public RawVolume
{
public:
    explicit VolumeDevice(std::unique_ptr<DeviceHandle> device) : device_(std::move(device)) {}

    std::optional<std::size_t> readNextSector(std::span<std::uint8_t> sector,
                                              std::uint64_t) override
    {
        std::uint32_t transferred = 0;
        if (!device_->read(sector.data(), std::uint32_t(sector.size()), transferred))
            return std::nullopt;
        // A short read leaves the rest of the buffer holding the previous sector's bytes;
        // only what was transferred is this sector's data.
        return std::min<std::size_t>(transferred, sector.size());
    }

private:
    std::unique_ptr<DeviceHandle> device_;
};

} // namespace

std::string volumeDeviceName(const std::string& driveLetter)
{
    return "\\\\.\\" + driveLetter + ":";
}

std::unique_ptr<RawVolume> openRawVolume(Platform& platform, int platformFlag,
                                         const std::string& driveLetter,
                                         std::span<std::uint8_t> sectorBuffer)
{
    if (platformFlag == 1) {
        auto device = platform.openDevice("\\\\.\\VWIN32");
        if (!device)
            return nullptr;
        return std::make_unique<Vwin32Volume>(std::move(device), driveLetter, sectorBuffer);
    }
    auto device = platform.openDevice(volumeDeviceName(driveLetter));
    if (!device)
        return nullptr;
    return std::make_unique<VolumeDevice>(std::move(device));
}

} // namespace velo
