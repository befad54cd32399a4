#include "scan/jpeg/cardbytes.h"
#include "tests/scan/jpeg/testphotos.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace velo::jpeg
{
namespace
{

using namespace std::chrono_literals;
using testing::Bytes;
using testing::MemoryCard;

constexpr std::size_t kSector = 512;
constexpr std::size_t kBlockSectors = SharedBlocks::kBlockBytes / kSector;

Bytes numbered(std::size_t bytes)
{
    Bytes b(bytes);
    for (std::size_t i = 0; i < bytes; ++i)
        b[i] = std::uint8_t(i * 7 + i / 251);
    return b;
}

// A card that counts how often each block's sectors are read, and whose reads of block 0
// wait until the test lets them through.
class CountingCard : public MemoryCard
{
public:
    CountingCard(Bytes image, bool gated) : MemoryCard(std::move(image), kSector), open_(!gated) {}
    std::size_t read(std::uint64_t first, std::size_t count, std::uint8_t* into) override
    {
        {
            std::unique_lock lock(mutex_);
            ++reads_[first / kBlockSectors];
            if (first < kBlockSectors) {
                waiting_ = true;
                changed_.notify_all();
                changed_.wait(lock, [&] { return open_; });
            }
        }
        return MemoryCard::read(first, count, into);
    }
    int reads(std::uint64_t block)
    {
        std::lock_guard lock(mutex_);
        return reads_[block];
    }
    // Whether a read of block 0 came, within a few seconds.
    bool readOfBlock0Waits()
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 5s, [&] { return waiting_; });
    }
    void open()
    {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::uint64_t, int> reads_;
    bool open_;
    bool waiting_ = false;
};

// Two views that want the same missing block: one reads it, the other waits for that read
// and gets the same bytes; meanwhile a third thread reads another block unhindered, since
// no lock is held over a read.
TEST(SharedBlocks, ABlockWantedByTwoViewsIsReadOnceAndNoReadHoldsTheOthersUp)
{
    CountingCard card(numbered(4 * SharedBlocks::kBlockBytes), /*gated=*/true);
    SharedBlocks blocks(card, 1 << 20);
    CardBytes views[2] = {CardBytes(blocks), CardBytes(blocks)};
    std::span<const std::uint8_t> seen[2];
    std::thread first([&] { seen[0] = views[0].at(100); });
    if (!card.readOfBlock0Waits()) {
        card.open();
        first.join();
        FAIL() << "block 0 was never read";
    }
    std::atomic<bool> secondDone = false;
    std::thread second([&] {
        seen[1] = views[1].at(100);
        secondDone = true;
    });
    std::this_thread::sleep_for(50ms); // the second view now waits for the first's read
    EXPECT_FALSE(secondDone);

    const auto other = blocks.get(2); // another block, while block 0 is being read
    EXPECT_EQ(other->bytes[0], card.image()[2 * SharedBlocks::kBlockBytes]);
    card.open();
    first.join();
    second.join();
    EXPECT_EQ(card.reads(0), 1);
    EXPECT_EQ(seen[0].size(), SharedBlocks::kBlockBytes - 100);
    EXPECT_EQ(seen[0].data(), seen[1].data()); // the one block, shared
    EXPECT_EQ(seen[0][0], card.image()[100]);
}

// The blocks kept stay within the bound, except those someone holds; the block used
// longest ago goes first, and a block the pass is done with goes before it.
TEST(SharedBlocks, KeptBlocksAreBoundedAndThoseHeldOrWantedAgainStay)
{
    using Wanted = SharedBlocks::Wanted;
    CountingCard card(numbered(8 * SharedBlocks::kBlockBytes), /*gated=*/false);
    SharedBlocks blocks(card, 3 * SharedBlocks::kBlockBytes);
    const auto held = blocks.get(0);
    blocks.get(1);
    blocks.get(2, Wanted::NotAgain);
    blocks.get(3);
    blocks.get(4); // four kept beside the one held: 2 goes, then 1
    for (std::uint64_t b : {0, 3, 4})
        blocks.get(b);
    EXPECT_EQ(card.reads(0), 1) << "a block held was dropped";
    EXPECT_EQ(card.reads(3), 1);
    EXPECT_EQ(card.reads(4), 1);
    blocks.get(2);
    EXPECT_EQ(card.reads(2), 2) << "a block the pass was done with stayed";
    blocks.get(1);
    EXPECT_EQ(card.reads(1), 2) << "the block used longest ago stayed";
    EXPECT_EQ(held->bytes,
              Bytes(card.image().begin(), card.image().begin() + SharedBlocks::kBlockBytes));
}

} // namespace
} // namespace velo::jpeg
