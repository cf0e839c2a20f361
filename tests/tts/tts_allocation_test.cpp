// Heap use of the node, seen through a replaced global operator new:
//  - steady playback (no switch, no end of an item) allocates nothing, both
//    straight into the bus and through the resampler;
//  - a synthesis that runs out of memory at any allocation never leaves a
//    pointer naming a released item.
// The sanitizers bring their own operator new, so there these tests skip.
#include <cstdlib>
#include <new>

#include "TTSTestSupport.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QS_COUNTING_NEW 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QS_COUNTING_NEW 0
#endif
#endif
#ifndef QS_COUNTING_NEW
#define QS_COUNTING_NEW 1
#endif

namespace {

// Per thread, so that only the thread under test is watched.
thread_local bool tCounting = false;
thread_local long tAllocations = 0;
thread_local long tFailAfter = -1;  // allocations left before one fails; -1: none fails
thread_local bool tFailed = false;

}  // namespace

#if QS_COUNTING_NEW

namespace {

// Returns nullptr for an injected failure.
void* allocate(std::size_t size, std::size_t alignment) {
  if (tCounting) ++tAllocations;
  if (tFailAfter == 0) {
    tFailAfter = -1;
    tFailed = true;
    return nullptr;
  }
  if (tFailAfter > 0) --tFailAfter;
  if (size == 0) size = 1;
  if (alignment <= alignof(std::max_align_t)) return std::malloc(size);
  return std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
}

void* allocateOrThrow(std::size_t size, std::size_t alignment) {
  void* p = allocate(size, alignment);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

}  // namespace

void* operator new(std::size_t n) { return allocateOrThrow(n, 0); }
void* operator new[](std::size_t n) { return allocateOrThrow(n, 0); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return allocate(n, 0); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return allocate(n, 0); }
void* operator new(std::size_t n, std::align_val_t a) { return allocateOrThrow(n, static_cast<std::size_t>(a)); }
void* operator new[](std::size_t n, std::align_val_t a) { return allocateOrThrow(n, static_cast<std::size_t>(a)); }
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return allocate(n, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return allocate(n, static_cast<std::size_t>(a));
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }

#endif

using namespace tts_test;
using quorvel::AudioBusFormat;

namespace {

class TTSAllocation : public TTSFixture {
 protected:
  void SetUp() override {
    if (!QS_COUNTING_NEW) GTEST_SKIP() << "operator new belongs to the sanitizer in this build";
    TTSFixture::SetUp();
  }

  // Allocations made by `blocks` produce calls on this thread.
  static long allocationsOver(SherpaTTSNode& node, Block& block, int blocks) {
    tAllocations = 0;
    tCounting = true;
    for (int i = 0; i < blocks; ++i) node.produce(block.bus());
    tCounting = false;
    return tAllocations;
  }
};

}  // namespace

TEST_F(TTSAllocation, TheCounterSeesAllocations) {
  tAllocations = 0;
  tCounting = true;
  auto* p = new int(3);
  tCounting = false;
  delete p;
  EXPECT_EQ(tAllocations, 1);
}

TEST_F(TTSAllocation, SteadyPlaybackAllocatesNothing) {
  for (int rate : {16000, 48000}) {
    SCOPED_TRACE(rate);
    fake_engine::reset();
    fake_engine::knobs().samplesPerText = 160000;
    auto node = makeNode();
    AudioBusFormat format{rate, 2};
    ASSERT_TRUE(node->setBusFormat(format));
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
  Block block(1, 160);
  bool failedSomewhere = true;
  for (long k = 0; failedSomewhere && k < 10000; ++k) {
    node->synthesize("Playing.");
    node->produce(block.bus());
    node->synthesize("Published.");
    tFailed = false;
    tFailAfter = k;
    try {
      node->synthesize("Out of memory.");
    } catch (const std::bad_alloc&) {
      // A failure while logging or emitting leaves the call; the state must hold.
    }
    tFailAfter = -1;
    failedSomewhere = tFailed;
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
