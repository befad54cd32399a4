#pragma once

#include "scan/carver.h"
#include "scan/jpeg/cardbytes.h"
#include "scan/jpeg/gapsearch.h"
#include "scan/jpeg/lookahead.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace velo::jpeg
{

struct JpegRuleSettings {
    std::uint64_t clusterBytes = 0; // 0: learned from where files start
    std::uint64_t gapWindowBytes = 64ull << 20;
    std::uint64_t maxFileBytes = 256ull << 20;
    // The gap search may walk this many bytes for every byte of the card passed, plus a
    // first allowance: its work stays linear in the card's size whatever the card holds.
    // One search starts candidates until it has walked searchBytesPerSearch plus twice its
    // first piece; a candidate it started may walk on as far as the whole budget goes.
    std::uint64_t searchBytesPerCardByte = 2;
    std::uint64_t searchAllowanceBytes = 32ull << 20;
    std::uint64_t searchBytesPerSearch = 256ull << 10;
    // Threads that walk files ahead of the pass (0: the pass walks every file itself). Their
    // reads of the card come at the same time as each other's and the pass's.
    unsigned lookAheadThreads = 0;
    // How far past the start the pass asked for last they walk.
    std::uint64_t lookAheadBytes = 64ull << 20;
    // The card's blocks kept for the rule and the walks made ahead (when the rule makes its
    // own; velo-carve's pass reads through the same): what the walks read ahead, plus 16 MiB
    // for the pass's two chunks of 4 MiB and the files walked from starts near the far end.
    // 80 MiB, kept only as the card is read.
    std::size_t cacheBytes = std::size_t(lookAheadBytes) + (std::size_t(16) << 20);
    // The memory the walks made ahead may hold while they wait for the pass, about.
    std::size_t lookAheadHeldBytes = std::size_t(32) << 20;
    // Asked every few MiB of a walk or a search: once it says so, the file in hand is cut
    // where its walk got to, closed as stopped, and the rule takes no further file.
    std::function<bool()> stopRequested = {};
};

// The carving rule that reads the JPEG structure. A sector that begins FF D8 FF starts a
// file, as in the window's rule, unless it lies inside a file already carved (an embedded
// thumbnail, a further image of an MPF file, the second piece of a photo). From there the
// file is walked through its segments and scans to its end of image; where the data
// breaks off, the gap search looks for the photo's further pieces. Each file is handed to
// the events whole, with its verdict, within the call for its first sector; a start that
// is no JPEG is reported through verdict() and written nowhere.
//
// The sectors come in order through sector(); the rule reads ahead through `blocks`, the
// blocks of the card shared with whoever else reads it in the run (the pass), or through
// blocks of its own over `card`, bounded by settings.cacheBytes.
class JpegCarver
{
public:
    JpegCarver(SharedBlocks& blocks, CarveEvents& events, const JpegRuleSettings& settings = {});
    JpegCarver(SectorReader& card, CarveEvents& events, const JpegRuleSettings& settings = {});

    // Sector `number`, as read by the pass.
    void sector(std::uint64_t number, std::span<const std::uint8_t> sectorBytes);

    std::uint64_t fileCounter() const { return fileCounter_; }
    // The cluster size in use: given, learned from the files so far, or the sector size.
    std::uint64_t clusterBytes();
    // Bytes the gap search has walked so far, all searches together.
    std::uint64_t searchBytesWalked() const { return searchWalked_; }
    // The work of every walk so far, first walks and searches (Walker::work()).
    std::uint64_t workDone() const { return work_; }
    // Whether the stop was seen: no file is taken after it.
    bool stopped() const { return stopped_; }
    // The walks made ahead: null without threads for them.
    LookAhead* lookAhead() { return lookAhead_.get(); }

private:
    struct Range {
        std::uint64_t first, end; // sectors, end excluded
    };

    struct Decision {
        Verdict verdict = Verdict::Truncated;
        CloseReason reason = CloseReason::EndMarker;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> pieces; // card offset, bytes
        bool plainBreak = false;
    };

    std::uint64_t clusterFrom(const std::vector<std::uint64_t>& starts) const;
    std::optional<Decision> decide(std::uint64_t start, bool testPlain);
    std::optional<Decision> searchPieces(std::uint64_t start, const FirstWalk& first,
                                         SearchLimits limits);
    Decision unfinished(std::uint64_t start, const FirstWalk& first);
    bool stopSeen();
    Decision cutShort(std::uint64_t start, std::uint64_t walkedTo, CloseReason reason);
    void carve(std::uint64_t sector);
    bool claimed(std::uint64_t sector) const;
    bool carved(std::uint64_t sector) const;
    static std::vector<std::pair<std::uint64_t, std::uint64_t>> piecesOf(const Layout& layout,
                                                                         std::uint64_t length);
    void claim(std::uint64_t cardOffset, std::uint64_t bytes);
    std::uint64_t nextStartBefore(std::uint64_t from, std::uint64_t to);
    std::uint64_t endMarkerAfter(std::uint64_t start, std::uint64_t from);
    std::uint64_t emit(std::uint64_t cardOffset, std::uint64_t bytes);
    CloseReason whyUnread(std::uint64_t cardOffset);

    // Over `own` blocks, or else over `shared` ones.
    JpegCarver(std::unique_ptr<SharedBlocks> own, SharedBlocks* shared, CarveEvents& events,
               const JpegRuleSettings& settings);

    std::unique_ptr<SharedBlocks> ownBlocks_; // null when the blocks are shared
    CardBytes card_;
    CarveEvents& events_;
    JpegRuleSettings settings_;
    std::uint64_t fileCounter_ = 1;
    std::int64_t budget_; // bytes the gap search may walk; below 0 while a walk's overshoot is owed
    std::uint64_t searchWalked_ = 0;
    std::uint64_t work_ = 0;
    bool stopped_ = false;
    std::vector<Range> claimed_; // pieces of carved files not yet passed, ahead of the pass
    std::map<std::uint64_t, std::uint64_t> carved_; // every piece carved: first sector, end
    std::vector<std::uint64_t> starts_; // first sectors of carved files, for the cluster size
    std::unique_ptr<LookAhead> lookAhead_;
};

} // namespace velo::jpeg
