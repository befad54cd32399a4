#include "scan/jpeg/lookahead.h"
#include "tests/scan/jpeg/testphotos.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace velo::jpeg
{
namespace
{

using namespace std::chrono_literals;
using testing::Bytes;
using testing::makePhoto;
using testing::MemoryCard;

constexpr std::size_t kSector = 512;

// A card whose reads from sector `gate` on wait until the test lets them through.
class GatedCard : public MemoryCard
{
public:
    GatedCard(Bytes image, std::uint64_t gate) : MemoryCard(std::move(image), kSector), gate_(gate)
    {
    }
    std::size_t read(std::uint64_t first, std::size_t count, std::uint8_t* into) override
    {
        if (first + count > gate_) {
            std::unique_lock lock(mutex_);
            waiting = true;
            opened_.wait(lock, [&] { return open_; });
        }
        return MemoryCard::read(first, count, into);
    }
    void open()
    {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        opened_.notify_all();
    }
    std::atomic<bool> waiting = false;

private:
    std::uint64_t gate_;
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
};

// A worker that waits on a slow read holds no lock the pass needs: the walk it finished
// before is handed out at once.
TEST(LookAhead, ASlowReadKeepsNoOneElseWaiting)
{
    Bytes image = makePhoto({.seed = 81});
    image.resize(1 << 20, 0);
    GatedCard card(image, 256); // a photo at sector 0; the reads past 128 KiB wait
    std::atomic<bool> opened = false;
    std::optional<FirstWalk> walk;
    {
        SharedBlocks blocks(card, 1 << 20);
        LookAhead ahead(blocks, 1, 1 << 20);
        std::thread watchdog([&] {
            for (int i = 0; i < 100 && !opened; ++i)
                std::this_thread::sleep_for(100ms);
            opened = true;
            card.open();
        });
        while (!card.waiting && !opened)
            std::this_thread::sleep_for(1ms);
        walk = ahead.take(0, {});
        EXPECT_FALSE(opened) << "the pass waited for a read it did not ask for";
        opened = true;
        card.open();
        watchdog.join();
    }
    ASSERT_TRUE(walk);
    EXPECT_EQ(walk->outcome, Outcome::Complete);
}

// Walks that break keep their resume points for the pass: the workers stop walking ahead
// once those they hold reach the limit, whatever the card holds.
TEST(LookAhead, WalksWaitingForThePassHoldBoundedMemory)
{
    const Bytes photo = makePhoto({.width = 320, .height = 240, .seed = 82});
    Bytes image;
    while (image.size() < (4u << 20)) { // photos whose data breaks off into random bytes
        image.insert(image.end(), photo.begin(), photo.begin() + 8192);
        const Bytes noise = testing::filler(testing::Filler::Random, 8192, image.size());
        image.insert(image.end(), noise.begin(), noise.end());
    }
    MemoryCard card(image, kSector);
    constexpr std::size_t kLimit = 256 << 10;
    SharedBlocks blocks(card, 1 << 20);
    LookAhead ahead(blocks, 2, 1 << 20, 64ull << 20, kLimit);
    const ResumeSpacing spacing{kSector, 64};
    ahead.take(0, spacing); // the workers walk with this spacing from here on
    for (int i = 0; i < 1000 && ahead.heldBytesMost().first < kLimit; ++i)
        std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(100ms); // what a worker would walk past the limit
    const auto [most, largestWalk] = ahead.heldBytesMost();
    EXPECT_GE(most, kLimit);
    EXPECT_LT(most, kLimit + 2 * largestWalk); // one walk over the limit per worker
    EXPECT_LT(largestWalk, kLimit);
}

} // namespace
} // namespace velo::jpeg
