#include "platform/linux/sysfsblock.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>

namespace velo::linux_backend
{

namespace fs = std::filesystem;

namespace
{

std::optional<std::string> readAttribute(const fs::path& path)
{
    std::ifstream in(path);
    if (!in)
        return std::nullopt;
    std::string value;
    std::getline(in, value);
    if (in.bad())
        return std::nullopt;
    while (!value.empty() && (value.back() == ' ' || value.back() == '\r' || value.back() == '\t'))
        value.pop_back();
    return value;
}

template <typename Number> std::optional<Number> readNumber(const fs::path& path)
{
    const auto text = readAttribute(path);
    if (!text)
        return std::nullopt;
    Number value{};
    const char* end = text->data() + text->size();
    auto [p, ec] = std::from_chars(text->data(), end, value);
    if (ec != std::errc() || p != end)
        return std::nullopt;
    return value;
}

bool isNonEmptyDirectory(const fs::path& path)
{
    std::error_code ec;
    return fs::is_directory(path, ec) && !fs::is_empty(path, ec) && !ec;
}

std::vector<std::string> entryNames(const fs::path& dir)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string linkText(const fs::path& path)
{
    std::error_code ec;
    const auto target = fs::read_symlink(path, ec);
    return ec ? std::string() : target.string();
}

// True for paths such as ".../usb2/2-1/2-1:1.0/host6/..." or ".../mmc_host/mmc0/mmc0:aaaa".
bool runsThroughUsbOrMmc(const std::string& path)
{
    for (const auto& part : fs::path(path)) {
        const std::string component = part.string();
        if (component.starts_with("usb") || component.starts_with("mmc"))
            return true;
    }
    return false;
}

// Fills the fields a disk publishes itself, from the disk's own directory.
void readDiskAttributes(const fs::path& diskDir, BlockDevice& device)
{
    device.removable = readNumber<int>(diskDir / "removable").value_or(0) == 1;
    if (auto size = readNumber<std::uint32_t>(diskDir / "queue" / "logical_block_size");
        size && *size != 0)
        device.logicalBlockSize = *size;
    device.scsiType = readNumber<int>(diskDir / "device" / "type").value_or(-1);
    device.viaUsbOrMmc = device.viaUsbOrMmc || runsThroughUsbOrMmc(linkText(diskDir)) ||
                         runsThroughUsbOrMmc(linkText(diskDir / "device"));

    const std::string vendor = readAttribute(diskDir / "device" / "vendor").value_or("");
    const std::string model = readAttribute(diskDir / "device" / "model").value_or("");
    // A vendor alone is no name: virtio gives only its PCI number ("0x1af4").
    device.model = vendor.empty() || model.empty() ? model : vendor + " " + model;
    if (device.model.empty())
        device.model = readAttribute(diskDir / "device" / "name").value_or(""); // MMC
    if (device.model.empty())
        device.model = readAttribute(diskDir / "loop" / "backing_file").value_or("");
}

} // namespace

SysfsBlock::SysfsBlock(std::string root) : root_(std::move(root)) {}

std::optional<BlockDevice> SysfsBlock::device(const std::string& name) const
{
    const fs::path dir = fs::path(root_) / name;
    std::error_code ec;
    if (name.empty() || name.find('/') != std::string::npos || !fs::is_directory(dir, ec))
        return std::nullopt;

    BlockDevice device;
    device.name = name;
    if (const auto dev = readAttribute(dir / "dev")) {
        const auto colon = dev->find(':');
        if (colon != std::string::npos) {
            const char* end = dev->data() + dev->size();
            auto [p1, e1] = std::from_chars(dev->data(), dev->data() + colon, device.major);
            auto [p2, e2] = std::from_chars(dev->data() + colon + 1, end, device.minor);
            device.hasDevNumber =
                e1 == std::errc() && e2 == std::errc() && p1 == dev->data() + colon && p2 == end;
        }
    }
    device.size512 = readNumber<std::uint64_t>(dir / "size").value_or(0);
    device.hidden = readNumber<int>(dir / "hidden").value_or(0) == 1;
    device.hasHolders = isNonEmptyDirectory(dir / "holders");
    device.slaves = entryNames(dir / "slaves");
    device.dmName = readAttribute(dir / "dm" / "name").value_or("");
    device.viaUsbOrMmc = runsThroughUsbOrMmc(linkText(dir));
    device.isPartition = fs::exists(dir / "partition", ec);

    if (device.isPartition) {
        // A partition's directory sits inside its disk's: .../block/sda/sda1.
        const fs::path real = fs::canonical(dir, ec);
        if (!ec) {
            const fs::path diskDir = real.parent_path();
            if (fs::exists(diskDir / "dev", ec)) {
                device.parent = diskDir.filename().string();
                readDiskAttributes(diskDir, device);
            }
        }
    } else {
        readDiskAttributes(dir, device);
        for (const auto& child : entryNames(dir)) {
            if (fs::exists(dir / child / "partition", ec)) {
                device.hasPartitions = true;
                break;
            }
        }
    }
    return device;
}

std::vector<BlockDevice> SysfsBlock::scan() const
{
    std::vector<BlockDevice> devices;
    for (const auto& name : entryNames(root_)) {
        if (auto device = this->device(name))
            devices.push_back(std::move(*device));
    }
    return devices;
}

} // namespace velo::linux_backend
