// The contact sheet of a real carve, opened in a real browser (headless Chromium): every
// thumbnail on it must load. Skipped where Chromium is not installed.

#include "tests/cli/support.h"
#include "tests/scan/jpeg/testphotos.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

namespace velo::cli
{
namespace
{

using namespace velo::cli::testing;
using ::testing::HasSubstr;

// Chromium's command as Debian installs it, or "" when there is none.
std::string chromiumCommand()
{
    for (const char* name : {"chromium", "chromium-browser"})
        if (run(std::string("command -v ") + name) == 0)
            return name;
    return "";
}

std::size_t occurrences(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// Once the page has loaded, each picture is marked with whether the browser decoded it.
const char* const kProbe = R"(<script>
addEventListener('load', () => {
  for (const img of document.images)
    img.setAttribute('data-loaded', img.complete && img.naturalWidth > 0 ? 'yes' : 'no');
  document.body.setAttribute('data-probed', 'yes');
});
</script>)";

TEST(ContactSheetInBrowser, EveryThumbnailOfARealCarveLoads)
{
    const std::string chromium = chromiumCommand();
    if (chromium.empty())
        GTEST_SKIP() << "no headless browser: install Debian's chromium package";

    // Real photos, one of them cut in half, and a start that is no photo.
    ScratchDir dir;
    const std::vector<Bytes> photos = wholeCarvingPhotos(6);
    ASSERT_GE(photos.size(), 3u);
    Bytes card = filler(4, 1);
    for (const Bytes& p : photos)
        appendPadded(card, p);
    const Bytes& largest =
        *std::max_element(photos.begin(), photos.end(),
                          [](const Bytes& a, const Bytes& b) { return a.size() < b.size(); });
    // Cut halfway through its scan data, past the header, so that some of it decodes.
    const std::size_t scanStart = velo::jpeg::testing::entropyStart(largest);
    ASSERT_GT(scanStart, 0u);
    const std::size_t half = scanStart + (largest.size() - scanStart) / 2;
    appendPadded(card, Bytes(largest.begin(), largest.begin() + std::ptrdiff_t(half)));
    appendPadded(card, {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 0x12, 0x34, 0x56});
    writeFile(dir / "card.img", card);

    const RunResult r = runVeloCarve({"-q", (dir / "card.img").string(), (dir / "out").string()});
    ASSERT_EQ(r.exitStatus, 0) << r.errorOutput;
    std::string page = readText(dir / "out/index.html");
    const std::size_t bodyEnd = page.rfind("</body>");
    ASSERT_NE(bodyEnd, std::string::npos);
    page.insert(bodyEnd, kProbe);
    writeText(dir / "out/probe.html", page);

    const std::string dom = (dir / "dom.html").string();
    // In a subshell: run() sends the command's own output to /dev/null.
    const int status =
        run("(" + chromium + " --headless --disable-gpu --no-sandbox --user-data-dir=" +
            (dir / "profile").string() + " --virtual-time-budget=10000 --dump-dom file://" +
            (dir / "out/probe.html").string() + " > " + dom + ")");
    ASSERT_EQ(status, 0);
    const std::string loaded = readText(dom);
    ASSERT_THAT(loaded, HasSubstr("data-probed=\"yes\""));

    // Every photo whole and the half one have a picture; the start that is no photo has none.
    const std::size_t pictures = occurrences(loaded, "<img");
    EXPECT_EQ(pictures, photos.size() + 1);
    EXPECT_EQ(occurrences(loaded, "data-loaded=\"yes\""), pictures);
    EXPECT_EQ(occurrences(loaded, "data-loaded=\"no\""), 0u);
    EXPECT_EQ(occurrences(loaded, "no preview"), 1u);
}

} // namespace
} // namespace velo::cli
