// The render thread of the text-to-speech node, watched call by call: over
// ten seconds of 48 kHz stereo playback with the real engine, it allocates
// nothing, takes no lock and makes no blocking call, except in the blocks in
// which an item ends (its "finished" and the synthesis of the next streamed
// piece happen there) or a new item is taken up.
//
// The ten seconds follow two seconds of warm-up at the same format: the
// host's converter is built in the first block at a new rate, and libsoxr
// grows its internal queues a few times while it settles. The warm-up is
// counted and reported, not required to be clean.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <quorvel/Logger.h>

#include "RealtimeProbe.h"
#include "engine/RealVoice.h"
#include "tts/TTSInternals.h"

using namespace real_voice;

namespace {

constexpr int kWarmUpBlocks = 200;  // 2 s of 10 ms blocks
constexpr int kBlocks = 1000;       // 10 s measured after them

struct Tally {
  realtime_probe::Counts steady;  // summed over blocks without a switch
  realtime_probe::Counts switching;
  int steadyBlocks = 0;
  int switchBlocks = 0;
  int playingBlocks = 0;  // an item was playing at the end of the block
  realtime_probe::Counts warmUp;
  const char* firstSteadyCall = nullptr;
  int firstSteadyBlock = -1;
  double worstSteadyMicros = 0;
  double worstSwitchMicros = 0;
};

void add(realtime_probe::Counts& sum, const realtime_probe::Counts& block) {
  sum.allocations += block.allocations;
  sum.locks += block.locks;
  sum.blocking += block.blocking;
}

// Renders the warm-up and then kBlocks blocks at four times real time, each
// watched by the probe.
Tally render(SherpaTTSNode& node, const std::atomic<int>& finishedEvents, std::atomic<int>& blocksDone) {
  Tally tally;
  StereoBlock block;
  auto& internals = node.internalsForTesting();
  auto next = std::chrono::steady_clock::now();
  for (int i = 0; i < kWarmUpBlocks; ++i) {
    realtime_probe::watch();
    node.produce(block.bus());
    add(tally.warmUp, realtime_probe::unwatch());
    next += std::chrono::microseconds(2500);
    std::this_thread::sleep_until(next);
  }
  for (int i = 0; i < kBlocks; ++i) {
    const auto* itemBefore = internals.currentItem.load();
    const int finishedBefore = finishedEvents.load();
    const auto start = std::chrono::steady_clock::now();
    realtime_probe::watch();
    node.produce(block.bus());
    const realtime_probe::Counts counts = realtime_probe::unwatch();
    const double micros = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
    const bool switched = internals.currentItem.load() != itemBefore || finishedEvents.load() != finishedBefore;
    if (switched) {
      add(tally.switching, counts);
      ++tally.switchBlocks;
      tally.worstSwitchMicros = std::max(tally.worstSwitchMicros, micros);
    } else {
      add(tally.steady, counts);
      ++tally.steadyBlocks;
      tally.worstSteadyMicros = std::max(tally.worstSteadyMicros, micros);
      if (counts.total() > 0 && tally.firstSteadyCall == nullptr) {
        tally.firstSteadyCall = counts.firstCall;
        tally.firstSteadyBlock = i;
      }
    }
    const auto* playing = internals.currentItem.load();
    if (playing != nullptr && !playing->complete.load()) ++tally.playingBlocks;
    blocksDone.store(i + 1);
    next += std::chrono::microseconds(2500);
    std::this_thread::sleep_until(next);
  }
  return tally;
}

void waitForBlock(const std::atomic<int>& blocksDone, int block) {
  while (blocksDone.load() < block) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

}  // namespace

TEST(RealtimeProbe, CountsCallsOnTheWatchedThreadOnly) {
  if (!realtime_probe::available()) GTEST_SKIP() << "sanitizer builds replace the allocator";
  std::mutex mutex;
  realtime_probe::watch();
  { std::lock_guard<std::mutex> lock(mutex); }
  auto value = std::make_unique<int>(1);
  void* raw = std::malloc(64);  // from the program itself
  char* copy = strdup("copied inside the C library");
  std::this_thread::sleep_for(std::chrono::microseconds(1));
  std::thread other([] {
    auto elsewhere = std::make_unique<std::vector<int>>(100);  // not on the watched thread
  });
  other.join();
  const realtime_probe::Counts counts = realtime_probe::unwatch();
  std::free(raw);
  std::free(copy);
  EXPECT_GE(counts.allocations, 3u);  // make_unique, malloc, strdup (and the thread's own state)
  EXPECT_GE(counts.locks, 1u);
  EXPECT_GE(counts.blocking, 1u);
  EXPECT_STREQ(counts.firstCall, "pthread_mutex_lock");

  // Calls made by a shared library of the program are seen too.
  realtime_probe::watch();
  quorvel::Logger::info("[RealtimeProbe] a log line goes to the sink");
  const realtime_probe::Counts logged = realtime_probe::unwatch();
  EXPECT_GT(logged.total(), 0u);

  realtime_probe::watch();
  const realtime_probe::Counts nothing = realtime_probe::unwatch();
  EXPECT_EQ(nothing.total(), 0u);
}

TEST(RealtimeProduce, SteadyPlaybackAllocatesLocksAndBlocksNothing) {
  if (!realtime_probe::available()) GTEST_SKIP() << "sanitizer builds replace the allocator";
  if (!voicePresent()) GTEST_SKIP() << "the demonstration voice is not in " << voiceDir();
  quorvel::Logger::setLevel(quorvel::LogLevel::Warning);
  auto node = std::make_unique<SherpaTTSNode>(QVAnyMap());
  AudioBusFormat format{48000, 2};
  ASSERT_TRUE(node->setBusFormat(format));
  std::atomic<int> finishedEvents{0};
  node->addListener("finished", [&](const std::string&, const QVAny&) { finishedEvents.fetch_add(1); });

  // A spoken sentence; a streamed paragraph that waits for its end and is
  // then synthesised on the render thread; a sentence that cuts in.
  node->synthesize("The keeper climbed the stairs of the lighthouse every evening before dark, and he lit the lamp.");
  std::atomic<int> blocksDone{0};
  Tally tally;
  std::thread renderer([&] { tally = render(*node, finishedEvents, blocksDone); });
  while (node->internalsForTesting().currentItem.load() == nullptr) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const std::string paragraph =
      "He trimmed the wick and wiped the glass. Ships passed far out at sea, and none of them knew his name. "
      "One winter night the storm broke the lamp, so he lit a fire on the rocks and kept it burning until dawn.";
  for (size_t i = 0; i < paragraph.size(); i += 5) node->appendStreamingText(paragraph.substr(i, 5), false);
  waitForBlock(blocksDone, 650);
  node->synthesize("A small boat came in at noon, bringing bread, letters and a new lamp for the tower.");
  renderer.join();

  const double blockMicros = 10000.0;
  std::printf("[ INFO     ] warm-up %d blocks: %llu allocations, %llu locks, %llu blocking calls\n", kWarmUpBlocks,
              static_cast<unsigned long long>(tally.warmUp.allocations),
              static_cast<unsigned long long>(tally.warmUp.locks), static_cast<unsigned long long>(tally.warmUp.blocking));
  std::printf("[ INFO     ] steady blocks %d: %llu allocations, %llu locks, %llu blocking calls; worst %.1f us\n",
              tally.steadyBlocks, static_cast<unsigned long long>(tally.steady.allocations),
              static_cast<unsigned long long>(tally.steady.locks), static_cast<unsigned long long>(tally.steady.blocking),
              tally.worstSteadyMicros);
  std::printf("[ INFO     ] switch blocks %d: %llu allocations, %llu locks, %llu blocking calls; worst %.1f us (of %.0f)\n",
              tally.switchBlocks, static_cast<unsigned long long>(tally.switching.allocations),
              static_cast<unsigned long long>(tally.switching.locks),
              static_cast<unsigned long long>(tally.switching.blocking), tally.worstSwitchMicros, blockMicros);
  RecordProperty("worstSteadyBlockMicros", std::to_string(tally.worstSteadyMicros));
  RecordProperty("worstSwitchBlockMicros", std::to_string(tally.worstSwitchMicros));

  // The scenario did what it is meant to: speech nearly all the time, a
  // handful of switches (ends, take-ups, the streamed piece, the cut-in).
  EXPECT_GT(tally.playingBlocks, kBlocks * 9 / 10);
  EXPECT_GE(tally.switchBlocks, 2);
  EXPECT_LE(tally.switchBlocks, 12);
  EXPECT_GE(finishedEvents.load(), 1);
  // The streamed piece was synthesised on the render thread: the engine
  // allocates there.
  EXPECT_GT(tally.switching.allocations, 0u);

  EXPECT_EQ(tally.steady.allocations, 0u);
  EXPECT_EQ(tally.steady.locks, 0u);
  EXPECT_EQ(tally.steady.blocking, 0u);
  EXPECT_EQ(tally.firstSteadyCall, nullptr) << "first seen: " << tally.firstSteadyCall << " in block "
                                            << tally.firstSteadyBlock;
}
