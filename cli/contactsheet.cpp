#include "cli/contactsheet.h"

#include "cli/progress.h"

namespace velo::cli
{

namespace
{

constexpr const char* kStyle = R"(
body { font: 14px/1.4 sans-serif; margin: 1em; background: #f4f4f4; color: #222; }
h1 { font-size: 1.3em; margin: 0 0 .3em; }
.totals { font-size: 1.1em; font-weight: bold; margin: 0 0 .3em; }
.note { margin: 0 0 1em; color: #555; }
.sheet { display: flex; flex-wrap: wrap; gap: 10px; }
.entry { width: 220px; margin: 0; padding: 8px; background: #fff; border: 1px solid #ccc; }
.entry.broken { border: 3px solid #c00; background: #fff0f0; padding: 6px; }
.picture { height: 200px; display: flex; align-items: center; justify-content: center;
           background: #ddd; }
.picture img { max-width: 200px; max-height: 200px; }
.nopreview { padding: 1em; text-align: center; color: #555; }
.flag { display: inline-block; background: #c00; color: #fff; font-weight: bold;
        padding: 0 .4em; margin-left: .3em; }
.verdict { font-weight: bold; }
.name { font-weight: bold; font-family: monospace; }
dl { margin: .3em 0 0; display: grid; grid-template-columns: auto 1fr; gap: 0 .5em; }
dt { color: #666; } dd { margin: 0; overflow-wrap: anywhere; }
)";

const char* plural(std::uint64_t n, const char* one, const char* many)
{
    return n == 1 ? one : many;
}

// The file's sectors, first to last, per piece: "2067–2146, 2259–2267". Without a verdict
// the file is one piece from its first sector, as long as its bytes.
std::string piecesText(const CarvedFile& f, std::uint32_t sectorBytes)
{
    std::vector<SectorRange> pieces;
    if (f.verdict)
        pieces = f.verdict->pieces;
    else
        pieces.push_back(
            {f.firstSector, f.firstSector + (f.length ? (f.length - 1) / sectorBytes : 0)});
    std::string s;
    for (const SectorRange& r : pieces) {
        s += s.empty() ? "" : ", ";
        s += std::to_string(r.first);
        if (r.last != r.first)
            s += "\u2013" + std::to_string(r.last);
    }
    return s;
}

std::string row(const char* term, const std::string& html)
{
    return "<dt>" + std::string(term) + "</dt><dd>" + html + "</dd>";
}

std::string pictureHtml(const SheetEntry& e)
{
    const Thumbnail& t = e.thumbnail;
    if (t.jpeg.empty())
        return "<div class=\"picture\"><div class=\"nopreview\">no preview<br><small>" +
               htmlEscaped(t.note) + "</small></div></div>";
    return "<div class=\"picture\"><img alt=\"" + htmlEscaped(e.file.name) + "\" width=\"" +
           std::to_string(t.width) + "\" height=\"" + std::to_string(t.height) +
           "\" src=\"data:image/jpeg;base64," + base64(t.jpeg) + "\"></div>";
}

std::string outputText(FileOutcome outcome)
{
    switch (outcome) {
    case FileOutcome::WriteFailed:
        return "only part could be written";
    case FileOutcome::NotCreated:
        return "could not be created";
    default:
        return "";
    }
}

} // namespace

std::string htmlEscaped(std::string_view text)
{
    std::string s;
    s.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            s += "&amp;";
            break;
        case '<':
            s += "&lt;";
            break;
        case '>':
            s += "&gt;";
            break;
        case '"':
            s += "&quot;";
            break;
        case '\'':
            s += "&#39;";
            break;
        default:
            // Control characters would make the page invalid; show their place.
            s += (static_cast<unsigned char>(c) < 0x20) ? '?' : c;
        }
    }
    return s;
}

std::string base64(std::span<const std::uint8_t> bytes)
{
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string s;
    s.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = std::uint32_t(bytes[i]) << 16;
        if (n > 1)
            group |= std::uint32_t(bytes[i + 1]) << 8;
        if (n > 2)
            group |= bytes[i + 2];
        for (std::size_t k = 0; k < 4; ++k)
            s += k <= n ? kDigits[(group >> (18 - 6 * k)) & 63] : '=';
    }
    return s;
}

ContactSheet::ContactSheet(std::string title, std::uint32_t sectorBytes, bool verdicts)
    : title_(std::move(title)), sectorBytes_(sectorBytes), verdicts_(verdicts)
{
}

void ContactSheet::add(const SheetEntry& e)
{
    tally_.add(e.file);
    broken_ += e.broken();
    noPreview_ += e.thumbnail.jpeg.empty();
    anySkipped_ |= e.thumbnail.outcome == Thumbnail::Outcome::Skipped;
    entries_ += entryHtml(e);
}

std::string ContactSheet::entryHtml(const SheetEntry& e) const
{
    const CarvedFile& f = e.file;
    const std::string name = htmlEscaped(f.name);
    std::string html = e.broken() ? "<figure class=\"entry broken\">" : "<figure class=\"entry\">";
    html += pictureHtml(e) + "<figcaption>";
    html += f.outcome == FileOutcome::NotCreated
                ? "<span class=\"name\">" + name + "</span>"
                : "<a class=\"name\" href=\"" + name + "\">" + name + "</a>";
    if (e.broken())
        html += "<span class=\"flag\">broken</span>";
    html += "<dl>";
    const std::string verdict = f.verdict ? verdictWord(f.verdict->verdict) : "unchecked";
    html += row("verdict", "<span class=\"verdict\">" + verdict + "</span>");
    html += row("size", byteSize(f.length) + " (" + std::to_string(f.length) + " bytes)");
    html += row(f.verdict && f.verdict->pieces.size() > 1 ? "pieces" : "sectors",
                piecesText(f, sectorBytes_));
    if (!e.cameraDate.empty())
        html += row("taken", htmlEscaped(e.cameraDate));
    if (const std::string output = outputText(f.outcome); !output.empty())
        html += row("file", output);
    if (!e.thumbnail.jpeg.empty() && !e.thumbnail.note.empty())
        html += row("decoding", htmlEscaped(e.thumbnail.note));
    return html + "</dl></figcaption></figure>\n";
}

std::string ContactSheet::totalsLine() const
{
    std::string s = std::to_string(tally_.files) + " " + plural(tally_.files, "file", "files");
    if (tally_.files)
        s += ": " + tally_.text();
    s += "; " + std::to_string(broken_) + " broken";
    if (noPreview_)
        s += ", " + std::to_string(noPreview_) + " without a preview";
    if (tally_.notJpeg)
        s += "; " + std::to_string(tally_.notJpeg) + " " +
             plural(tally_.notJpeg, "start was", "starts were") + " no JPEG";
    return s + ".";
}

std::string ContactSheet::page() const
{
    std::string html = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                       "<title>velo-carve: " +
                       htmlEscaped(title_) + "</title>\n<style>" + kStyle +
                       "</style>\n</head>\n<body>\n<h1>Photos carved into " + htmlEscaped(title_) +
                       "</h1>\n<p class=\"totals\">" + htmlEscaped(totalsLine()) + "</p>\n";
    if (!verdicts_)
        html += "<p class=\"note\">The window's rule checks no file: each verdict reads "
                "\"unchecked\", and a file's decoding, when its thumbnail shows errors, is "
                "the only check there is.</p>\n";
    if (!Thumbnail::decoderBuiltIn())
        html += "<p class=\"note\">This build of velo-carve makes no thumbnails (it has no "
                "JPEG decoder).</p>\n";
    else if (anySkipped_)
        html += "<p class=\"note\">The run was stopped: no thumbnails were made.</p>\n";
    return html + "<div class=\"sheet\">\n" + entries_ + "</div>\n</body>\n</html>\n";
}

} // namespace velo::cli
