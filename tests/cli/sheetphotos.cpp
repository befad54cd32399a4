#include "tests/cli/sheetphotos.h"

#include "tests/scan/jpeg/testphotos.h"

#include <algorithm>
#include <map>
#include <stdexcept>

namespace velo::cli::testing
{

namespace
{

constexpr std::uint16_t kDateTime = 0x0132, kExifPointer = 0x8769, kOriginal = 0x9003;

struct Entry {
    std::uint16_t tag;
    std::uint16_t type; // 2 text, 4 number
    std::string text;   // with type 2
    std::uint32_t number = 0;
};

class TiffWriter
{
public:
    explicit TiffWriter(bool bigEndian) : big_(bigEndian) {}

    void put(std::size_t width, std::uint32_t value)
    {
        for (std::size_t i = 0; i < width; ++i) {
            const std::size_t shift = 8 * (big_ ? width - 1 - i : i);
            bytes.push_back(std::uint8_t(value >> shift));
        }
    }
    void set(std::size_t at, std::size_t width, std::uint32_t value)
    {
        for (std::size_t i = 0; i < width; ++i)
            bytes[at + i] = std::uint8_t(value >> (8 * (big_ ? width - 1 - i : i)));
    }

    // A directory of entries; texts of more than four bytes after it. Where each entry's
    // value field lies, by tag.
    void directory(const std::vector<Entry>& entries, std::uint16_t claimed, bool breakOffsets)
    {
        put(2, claimed ? claimed : std::uint16_t(entries.size()));
        std::vector<std::pair<std::size_t, const Entry*>> later;
        for (const Entry& e : entries) {
            put(2, e.tag);
            put(2, e.type);
            const std::string text = e.text + '\0';
            put(4, e.type == 2 ? std::uint32_t(text.size()) : 1);
            valueAt[e.tag] = bytes.size();
            if (e.type == 2 && text.size() <= 4) {
                bytes.insert(bytes.end(), text.begin(), text.end());
                bytes.resize(bytes.size() + 4 - text.size(), 0);
            } else {
                put(4, e.number);
                if (e.type == 2)
                    later.push_back({bytes.size() - 4, &e});
            }
        }
        put(4, 0); // no next directory
        for (const auto& [field, e] : later) {
            set(field, 4, breakOffsets ? 0xFFFFFF00u : std::uint32_t(bytes.size()));
            bytes.insert(bytes.end(), e->text.begin(), e->text.end());
            bytes.push_back(0);
        }
    }

    Bytes bytes;
    std::map<std::uint16_t, std::size_t> valueAt;

private:
    bool big_;
};

Bytes tiff(const ExifRecipe& r)
{
    TiffWriter w(r.bigEndian);
    w.bytes = r.bigEndian ? Bytes{'M', 'M'} : Bytes{'I', 'I'};
    w.put(2, 42);
    w.put(4, 8);
    std::vector<Entry> first;
    if (!r.dateTime.empty())
        first.push_back({kDateTime, 2, r.dateTime});
    if (!r.dateTimeOriginal.empty())
        first.push_back({kExifPointer, 4, "", 0});
    w.directory(first, r.claimedEntries, r.breakTextOffset);
    if (!r.dateTimeOriginal.empty()) {
        w.set(w.valueAt[kExifPointer], 4, std::uint32_t(w.bytes.size()));
        w.directory({{kOriginal, 2, r.dateTimeOriginal}}, 0, r.breakTextOffset);
    }
    if (r.cutTo && r.cutTo < w.bytes.size())
        w.bytes.resize(r.cutTo);
    return w.bytes;
}

} // namespace

Bytes photoWithExif(const ExifRecipe& recipe)
{
    const Bytes photo = velo::jpeg::testing::makePhoto({});
    static constexpr std::uint8_t kHeader[] = {'E', 'x', 'i', 'f', 0, 0};
    const Bytes t = tiff(recipe);
    Bytes block(sizeof kHeader + t.size());
    std::copy(std::begin(kHeader), std::end(kHeader), block.begin());
    std::copy(t.begin(), t.end(), block.begin() + sizeof kHeader);
    // Start marker, then the block as an APP1 segment, then the photo after its start.
    Bytes out;
    out.reserve(6 + block.size() + photo.size());
    for (const std::size_t b : {std::size_t(0xFF), std::size_t(0xD8), std::size_t(0xFF),
                                std::size_t(0xE1), (block.size() + 2) >> 8, block.size() + 2})
        out.push_back(std::uint8_t(b));
    out.insert(out.end(), block.begin(), block.end());
    out.insert(out.end(), photo.begin() + 2, photo.end());
    return out;
}

Bytes declaringSize(Bytes photo, std::uint16_t width, std::uint16_t height)
{
    for (std::size_t i = 2; i + 9 < photo.size();) {
        const std::uint8_t marker = photo[i + 1];
        if (marker == 0xC0 || marker == 0xC2) { // FF C0 length(2) precision height width
            photo[i + 5] = std::uint8_t(height >> 8), photo[i + 6] = std::uint8_t(height);
            photo[i + 7] = std::uint8_t(width >> 8), photo[i + 8] = std::uint8_t(width);
            return photo;
        }
        i += 2 + (std::size_t(photo[i + 2]) << 8 | photo[i + 3]);
    }
    throw std::runtime_error("no frame header");
}

Bytes progressiveWithScans(int scans)
{
    Bytes photo = velo::jpeg::testing::makePhoto({.progressive = true});
    // The last scan runs from the last FF DA to the end of image.
    std::size_t last = 0, count = 0;
    for (std::size_t i = 0; i + 1 < photo.size(); ++i)
        if (photo[i] == 0xFF && photo[i + 1] == 0xDA)
            last = i, ++count;
    const Bytes scan(photo.begin() + std::ptrdiff_t(last), photo.end() - 2);
    photo.resize(photo.size() - 2);
    for (int n = int(count); n < scans; ++n)
        photo.insert(photo.end(), scan.begin(), scan.end());
    photo.push_back(0xFF);
    photo.push_back(0xD9);
    return photo;
}

} // namespace velo::cli::testing
