#pragma once

#include "scan/carver.h"
#include "scan/jpeg/cardbytes.h"
#include "scan/jpeg/gapsearch.h"
#include "scan/jpeg/lookahead.h"

#include <cstdint>
#include <deque>
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
    std::uint64_t searchBytesPerSearch = 2ull << 20;
    // Threads that walk files ahead of the pass (0: the pass walks every file itself). Their
    // reads of the card come at the same time as each other's and the pass's.
    unsigned lookAheadThreads = 0;
    // How far past the start the pass asked for last they walk.
    std::uint64_t lookAheadBytes = 64ull << 20;
    // The card's blocks kept for the rule and the walks made ahead (when the rule makes its
    // own; velo-carve's pass reads through the same): what the walks read ahead, plus 16 MiB
    // for the pass's two chunks of 4 MiB and the files walked from starts near the far end,
    // plus 16 MiB behind the pass for the photos waiting for their search (searchDelayBytes).
    // 96 MiB, kept only as the card is read.
    std::size_t cacheBytes = std::size_t(lookAheadBytes) + (std::size_t(32) << 20);
    // The memory the walks made ahead may hold while they wait for the pass, about.
    std::size_t lookAheadHeldBytes = std::size_t(32) << 20;
    // Asked every few MiB of a walk or a search: once it says so, the file in hand is cut
    // where its walk got to, closed as stopped, and the rule takes no further file.
    std::function<bool()> stopRequested = {};
    // A photo whose data breaks off is searched for its further pieces once the pass is
    // this far past its break (or at finish()): the photos found whole up to there are
    // known by then, and their clusters are no candidates. It is handed out then, after
    // files that start further on. 0: searched at once. Photos waiting so are bounded in
    // number and in the memory their walks hold: past that, a photo is searched at once.
    std::uint64_t searchDelayBytes = 16ull << 20;
    // The size the source's file system lists for a deleted file whose first cluster begins
    // at the card offset given; 0 for none. A hint, since another file may have taken the
    // cluster since: it bounds the search for a photo's pieces when the photo's first walk
    // fits in it, and gives a photo the bytes it holds after its end of image when they end
    // in the cluster of that end.
    std::function<std::uint64_t(std::uint64_t cardOffset)> listedBytes = {};
    // Told the first sector of a photo handed out after the pass went past its start,
    // before the events' openFile.
    std::function<void(std::uint64_t sector)> fileStartsAt = {};
};

// The carving rule that reads the JPEG structure. A sector that begins FF D8 FF starts a
// file, as in the window's rule, unless it lies inside a file already carved (an embedded
// thumbnail, a further image of an MPF file, the second piece of a photo). From there the
// file is walked through its segments and scans to its end of image; where the data
// breaks off, the gap search looks for the photo's further pieces, piece after piece. Each
// file is handed to the events whole, with its verdict: within the call for its first
// sector, or, for a photo that broke off, once the pass is settings.searchDelayBytes past
// it (or at finish()), so that the photos found whole around it are out of its search. A
// start that is no JPEG is reported through verdict() and written nowhere.
//
// The sectors come in order through sector(), then finish(); the rule reads ahead through `blocks`,
// the blocks of the card shared with whoever else reads it in the run (the pass), or through blocks
// of its own over `card`, bounded by settings.cacheBytes.
class JpegCarver
{
public:
    JpegCarver(SharedBlocks& blocks, CarveEvents& events, const JpegRuleSettings& settings = {});
    JpegCarver(SectorReader& card, CarveEvents& events, const JpegRuleSettings& settings = {});

    // Sector `number`, as read by the pass.
    void sector(std::uint64_t number, std::span<const std::uint8_t> sectorBytes);
    // After the last sector (or the stop): searches the further pieces of the photos that
    // broke off and still wait, and hands them out. After a stop they are handed out as far
    // as their first walk went, unsearched.
    void finish();
    // Photos that broke off and wait for finish().
    std::size_t waiting() const { return waiting_.size(); }

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
        bool searchLater = false; // the pieces are the first walk's, the search not made
        // The file's first bytes known to be the photo's, out of the searches of other
        // photos: all of a photo found whole; of one that is not, its whole clusters before
        // where its walk broke (what follows there may be another file's data).
        std::uint64_t ownBytes = ~std::uint64_t(0);
    };

    // A photo that broke off, waiting for its search: what it is without one.
    struct Waiting {
        std::uint64_t start = 0;
        std::uint64_t dueAt = 0; // card offset: searched once the pass is there
        Decision unsearched;
        std::optional<FirstWalk> first; // kept while the walks kept hold little memory
    };

    std::uint64_t clusterFrom(const std::vector<std::uint64_t>& starts) const;
    ResumeSpacing spacing();
    FirstWalk walk(std::uint64_t start, bool testPlain, bool byPass);
    std::optional<Decision> decide(std::uint64_t start, const FirstWalk& first, bool testPlain,
                                   bool search);
    std::optional<Decision> searchPieces(std::uint64_t start, const FirstWalk& first,
                                         SearchLimits limits);
    Decision unfinished(std::uint64_t start, const FirstWalk& first);
    bool stopSeen();
    Decision cutShort(std::uint64_t start, std::uint64_t walkedTo, CloseReason reason);
    void carve(std::uint64_t sector);
    bool wait(std::uint64_t start, const Decision& unsearched,
              const std::optional<FirstWalk>& first);
    void searchWaiting();
    void handOut(std::uint64_t start, std::optional<Decision> d, bool search);
    std::uint64_t listedBytes(std::uint64_t start) const;
    void addListedTail(std::uint64_t start, Decision& d);
    bool claimed(std::uint64_t sector) const;
    bool carved(std::uint64_t sector) const;
    static std::vector<std::pair<std::uint64_t, std::uint64_t>> piecesOf(const Layout& layout,
                                                                         std::uint64_t length);
    void claim(std::uint64_t cardOffset, std::uint64_t bytes, std::uint64_t ownBytes);
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
    // The photos' own sectors among those carved (Decision::ownBytes), and the first pieces
    // of the photos waiting: first sector, end.
    std::map<std::uint64_t, std::uint64_t> carved_;
    std::vector<std::uint64_t> starts_; // first sectors of carved files, for the cluster size
    std::unique_ptr<LookAhead> lookAhead_;
    std::deque<Waiting> waiting_;      // in the order of their starts
    std::size_t waitingHeldBytes_ = 0; // by the first walks kept in waiting_
};

} // namespace velo::jpeg
