#include "cli/exifdate.h"

#include <algorithm>
#include <optional>

namespace velo::cli
{

namespace
{

using Bytes = std::span<const std::uint8_t>;

constexpr std::uint16_t kDateTime = 0x0132;
constexpr std::uint16_t kExifDirectory = 0x8769;
constexpr std::uint16_t kDateTimeOriginal = 0x9003;
constexpr std::uint16_t kAscii = 2;
constexpr std::uint16_t kLong = 4;

// The TIFF structure inside the EXIF block: its byte order and bounds-checked reads.
class Tiff
{
public:
    explicit Tiff(Bytes bytes) : bytes_(bytes), bigEndian_(bytes.size() > 1 && bytes[0] == 'M') {}

    bool fits(std::size_t at, std::size_t width) const
    {
        return at <= bytes_.size() && bytes_.size() - at >= width;
    }

    std::optional<std::uint32_t> number(std::size_t at, std::size_t width) const
    {
        if (!fits(at, width))
            return std::nullopt;
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < width; ++i) {
            const std::size_t k = bigEndian_ ? i : width - 1 - i;
            value = value << 8 | bytes_[at + k];
        }
        return value;
    }

    // Text of `count` bytes at `at` (or inline in the entry when it fits in four).
    std::string text(std::size_t entry, std::uint32_t count) const
    {
        std::size_t at = entry + 8;
        if (count > 4) {
            const auto offset = number(entry + 8, 4);
            if (!offset)
                return "";
            at = *offset;
        }
        std::string s;
        for (std::size_t i = 0; i < count && i < kMostDateChars && at + i < bytes_.size(); ++i) {
            if (bytes_[at + i] == 0)
                break;
            s += char(bytes_[at + i]);
        }
        return s;
    }

    // The entry with this tag in the directory at `at`: where it lies.
    std::optional<std::size_t> find(std::size_t directory, std::uint16_t tag) const
    {
        const auto count = number(directory, 2);
        // A directory that runs past the block is not read at all.
        if (!count || !fits(directory + 2, std::size_t(*count) * 12))
            return std::nullopt;
        for (std::size_t i = 0; i < *count; ++i) {
            const std::size_t entry = directory + 2 + i * 12;
            const auto t = number(entry, 2);
            if (!t)
                return std::nullopt; // the directory runs past the block
            if (*t == tag)
                return entry;
        }
        return std::nullopt;
    }

    // The text of an ASCII entry, "" when there is none.
    std::string textOf(std::size_t directory, std::uint16_t tag) const
    {
        const auto entry = find(directory, tag);
        if (!entry || number(*entry + 2, 2) != kAscii)
            return "";
        const auto count = number(*entry + 4, 4);
        return count ? text(*entry, *count) : "";
    }

    std::optional<std::uint32_t> longOf(std::size_t directory, std::uint16_t tag) const
    {
        const auto entry = find(directory, tag);
        if (!entry || number(*entry + 2, 2) != kLong)
            return std::nullopt;
        return number(*entry + 8, 4);
    }

    bool valid() const
    {
        return bytes_.size() >= 8 && (bytes_[0] == 'I' || bytes_[0] == 'M') &&
               bytes_[1] == bytes_[0] && number(2, 2) == 42u;
    }

private:
    Bytes bytes_;
    bool bigEndian_;
};

// The TIFF bytes of the first EXIF block among the segments before the first scan.
Bytes exifBlock(Bytes photo)
{
    static constexpr std::uint8_t kExifHeader[] = {'E', 'x', 'i', 'f', 0, 0};
    if (photo.size() < 4 || photo[0] != 0xFF || photo[1] != 0xD8)
        return {};
    for (std::size_t at = 2; at + 4 <= photo.size();) {
        if (photo[at] != 0xFF)
            return {};
        const std::uint8_t marker = photo[at + 1];
        if (marker == 0xFF) { // fill byte
            ++at;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9)
            return {};
        const std::size_t length = std::size_t(photo[at + 2]) << 8 | photo[at + 3];
        if (length < 2 || at + 2 + length > photo.size())
            return {};
        const Bytes segment = photo.subspan(at + 4, length - 2);
        if (marker == 0xE1 && segment.size() >= sizeof kExifHeader &&
            std::equal(std::begin(kExifHeader), std::end(kExifHeader), segment.begin()))
            return segment.subspan(sizeof kExifHeader);
        at += 2 + length;
    }
    return {};
}

// "YYYY:MM:DD HH:MM:SS" with the date's colons made dashes; anything else as it is.
std::string readable(std::string date)
{
    auto digitsAt = [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i)
            if (date[i] < '0' || date[i] > '9')
                return false;
        return true;
    };
    if (date.size() == 19 && date[4] == ':' && date[7] == ':' && date[10] == ' ' &&
        digitsAt(0, 4) && digitsAt(5, 7) && digitsAt(8, 10)) {
        date[4] = '-';
        date[7] = '-';
    }
    return date;
}

} // namespace

std::string exifDate(std::span<const std::uint8_t> photo)
{
    const Tiff tiff(exifBlock(photo));
    if (!tiff.valid())
        return "";
    const auto first = tiff.number(4, 4);
    if (!first)
        return "";
    if (const auto exif = tiff.longOf(*first, kExifDirectory)) {
        if (std::string original = tiff.textOf(*exif, kDateTimeOriginal); !original.empty())
            return readable(original);
    }
    return readable(tiff.textOf(*first, kDateTime));
}

} // namespace velo::cli
