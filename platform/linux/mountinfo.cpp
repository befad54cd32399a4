#include "platform/linux/mountinfo.h"

#include <charconv>

namespace velo::linux_backend
{

namespace
{

std::vector<std::string_view> splitFields(std::string_view line)
{
    std::vector<std::string_view> fields;
    std::size_t pos = 0;
    while (pos < line.size()) {
        while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t'))
            ++pos;
        const std::size_t start = pos;
        while (pos < line.size() && line[pos] != ' ' && line[pos] != '\t')
            ++pos;
        if (pos > start)
            fields.push_back(line.substr(start, pos - start));
    }
    return fields;
}

bool parseDevice(std::string_view field, unsigned& major, unsigned& minor)
{
    const auto colon = field.find(':');
    if (colon == std::string_view::npos)
        return false;
    const char* end = field.data() + field.size();
    auto [p1, e1] = std::from_chars(field.data(), field.data() + colon, major);
    if (e1 != std::errc() || p1 != field.data() + colon)
        return false;
    auto [p2, e2] = std::from_chars(field.data() + colon + 1, end, minor);
    return e2 == std::errc() && p2 == end;
}

bool isOctalDigit(char c)
{
    return c >= '0' && c <= '7';
}

} // namespace

std::string MountInfo::unescape(std::string_view field)
{
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && isOctalDigit(field[i + 1]) &&
            isOctalDigit(field[i + 2]) && isOctalDigit(field[i + 3])) {
            const int value =
                (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
            out.push_back(static_cast<char>(value & 0xff));
            i += 3;
        } else {
            out.push_back(field[i]);
        }
    }
    return out;
}

std::vector<MountEntry> MountInfo::parse(std::string_view text)
{
    std::vector<MountEntry> entries;
    while (!text.empty()) {
        const auto newline = text.find('\n');
        const std::string_view line = text.substr(0, newline);
        text = newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);

        // id parent major:minor root mountpoint options [optional...] - fstype source superopts
        const auto fields = splitFields(line);
        std::size_t separator = 6;
        while (separator < fields.size() && fields[separator] != "-")
            ++separator;
        if (separator + 1 >= fields.size())
            continue;

        MountEntry entry;
        if (!parseDevice(fields[2], entry.major, entry.minor))
            continue;
        entry.root = unescape(fields[3]);
        entry.mountPoint = unescape(fields[4]);
        entry.fsType = unescape(fields[separator + 1]);
        if (separator + 2 < fields.size())
            entry.source = unescape(fields[separator + 2]);
        entries.push_back(std::move(entry));
    }
    return entries;
}

} // namespace velo::linux_backend
