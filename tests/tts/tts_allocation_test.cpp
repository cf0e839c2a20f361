// Heap use of the node, seen through a replaced global operator new:
//  - steady playback (no switch, no end of an item) allocates nothing, both
//    straight into the bus and through the resampler;
//  - a synthesis that runs out of memory at any allocation never leaves a
//    pointer naming a released item.
// The sanitizers bring their own operator new, so there these tests skip.
#include "TTSTestSupport.h"
#include "support/AllocationCounter.h"

using namespace tts_test;
namespace allocation_counter = test_kit::allocation_counter;

namespace {

class TTSAllocation : public TTSFixture {
 protected:
  void SetUp() override {
    if (!allocation_counter::available()) GTEST_SKIP() << "operator new belongs to the sanitizer in this build";
    TTSFixture::SetUp();
  }

  // Allocations made by `blocks` produce calls on this thread.
  static long allocationsOver(SherpaTTSNode& node, Block& block, int blocks) {
    allocation_counter::start();
    for (int i = 0; i < blocks; ++i) node.produce(block.bus());
    return allocation_counter::stop().allocations;
  }
};

}  // namespace

TEST_F(TTSAllocation, TheCounterSeesAllocations) {
  allocation_counter::start();
  int* volatile p = new int(3);  // volatile: the pair may not be optimised away
  delete p;
  const auto counts = allocation_counter::stop();
  EXPECT_EQ(counts.allocations, 1);
  EXPECT_EQ(counts.frees, 1);
}

TEST_F(TTSAllocation, SteadyPlaybackAllocatesNothing) {
  for (int rate : {16000, 48000}) {
    SCOPED_TRACE(rate);
    fake_engine::reset();
    fake_engine::knobs().samplesPerText = 160000;
    auto node = makeNode();
    ASSERT_TRUE(setFormat(*node, rate, 2));
    Block block(2, rate / 100, rate);
    node->synthesize("Long enough.");
    for (int i = 0; i < 5; ++i) node->produce(block.bus());  // the switch and the converter's set-up
    GeneratedAudioItem* item = in(*node).currentItem.load();
    ASSERT_NE(item, nullptr);
    const int before = item->readPosition.load();

    EXPECT_EQ(allocationsOver(*node, block, 200), 0);
    // 200 blocks of 10 ms take 2 s of the voice's audio (give or take what
    // the converter pulls ahead).
    EXPECT_NEAR(item->readPosition.load() - before, 200 * 160, 320) << "the blocks played speech";
    EXPECT_FALSE(block.silent());
  }
}

TEST_F(TTSAllocation, ASynthesisOutOfMemoryNeverLeavesADanglingPointer) {
  auto node = makeNode();
  bool failedSomewhere = true;
  for (long k = 0; failedSomewhere && k < 10000; ++k) {
    node->synthesize("Playing.");
    node->produce(block.bus());
    node->synthesize("Published.");
    allocation_counter::failAfter(k);
    try {
      node->synthesize("Out of memory.");
    } catch (const std::bad_alloc&) {
      // A failure while logging or emitting leaves the call; the state must hold.
    }
    failedSomewhere = allocation_counter::failed();
    allocation_counter::failAfter(-1);
    const Internals& s = in(*node);
    auto owned = [&](const GeneratedAudioItem* p) {
      if (p == nullptr) return true;
      for (const auto& item : s.generatedAudioItems)
        if (item.get() == p) return true;
      return false;
    };
    ASSERT_TRUE(owned(s.nextItem.load())) << "failure at allocation " << k;
    ASSERT_TRUE(owned(s.currentItem.load())) << "failure at allocation " << k;
    for (int i = 0; i < 3; ++i) node->produce(block.bus());
  }
  EXPECT_FALSE(failedSomewhere) << "the sweep ended before it covered every allocation";
}
