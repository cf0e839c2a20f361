// The render thread of the text-to-speech node, watched call by call: over
// ten seconds of 48 kHz stereo playback with the real engine, it allocates
// and frees nothing, takes no lock and makes no blocking call (with
// listeners on "spoken" where pieces are prepared ahead). The blocks in
// which an item ends are split where "finished" has been delivered: up to
// there (the end of the item and the emission) they are held to the same
// rule; what follows (the synthesis of the next streamed piece) and the
// blocks that take up a new item are counted and reported only.
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
#include "support/TestBlock.h"
#include "tts/TTSInternals.h"

using namespace real_voice;

namespace {

constexpr int kWarmUpBlocks = 200;  // 2 s of 10 ms blocks
constexpr int kBlocks = 1000;       // 10 s measured after them

struct Tally {
  realtime_probe::Counts steady;     // summed over blocks without a switch
  realtime_probe::Counts finishing;  // blocks that emit "finished", up to its delivery
  realtime_probe::Counts switching;  // the rest of those blocks, and take-ups
  int steadyBlocks = 0;
  int finishingBlocks = 0;
  int switchBlocks = 0;
  int playingBlocks = 0;  // an item was playing at the end of the block
  realtime_probe::Counts warmUp;
  const char* firstSteadyCall = nullptr;
  int firstSteadyBlock = -1;
  const char* firstFinishingCall = nullptr;
  double worstSteadyMicros = 0;
  double worstSwitchMicros = 0;
};

// The last "finished" listener: counts the event and ends the watch of the
// part of the block before it, then watches the rest on its own.
struct FinishedSplit {
  std::atomic<int> events{0};
  realtime_probe::Counts upToDelivery;  // render thread only

  void operator()() {
    upToDelivery = realtime_probe::unwatch();
    events.fetch_add(1);
    realtime_probe::watch();
  }
};

// Renders the warm-up and then kBlocks blocks at four times real time, each
// watched by the probe.
Tally render(SherpaTTSNode& node, FinishedSplit& finished, std::atomic<int>& blocksDone) {
  Tally tally;
  test_kit::TestBlock block(2, 480, 48000);
  auto& internals = node.internalsForTesting();
  auto next = std::chrono::steady_clock::now();
  for (int i = 0; i < kWarmUpBlocks; ++i) {
    realtime_probe::watch();
    node.produce(block.bus());
    tally.warmUp += realtime_probe::unwatch();
    next += std::chrono::microseconds(2500);
    std::this_thread::sleep_until(next);
  }
  for (int i = 0; i < kBlocks; ++i) {
    const auto* itemBefore = internals.currentItem.load();
    const int finishedBefore = finished.events.load();
    const auto start = std::chrono::steady_clock::now();
    realtime_probe::watch();
    node.produce(block.bus());
    const realtime_probe::Counts counts = realtime_probe::unwatch();
    const double micros = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
    const bool finishedHere = finished.events.load() != finishedBefore;
    const bool switched = internals.currentItem.load() != itemBefore || finishedHere;
    if (finishedHere) {
      tally.finishing += finished.upToDelivery;
      ++tally.finishingBlocks;
      if (finished.upToDelivery.total() > 0 && tally.firstFinishingCall == nullptr) {
        tally.firstFinishingCall = finished.upToDelivery.firstCall;
      }
    }
    if (switched) {
      tally.switching += counts;
      ++tally.switchBlocks;
      tally.worstSwitchMicros = std::max(tally.worstSwitchMicros, micros);
    } else {
      tally.steady += counts;
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

// A node made with `config`, rendered at 48 kHz in stereo, whose last
// "finished" listener is `finished`; null when the format is refused.
std::unique_ptr<SherpaTTSNode> renderedNode(const QVAnyMap& config, FinishedSplit& finished) {
  auto node = std::make_unique<SherpaTTSNode>(config);
  AudioBusFormat format{48000, 2};
  if (!node->setBusFormat(format)) return nullptr;
  node->addListener("finished", [&finished](const std::string&, const QVAny&) { finished(); });
  return node;
}

// Appends `text` as a generator sends it: a token of five bytes every block
// after the warm-up.
void appendFiveBytesABlock(SherpaTTSNode& node, const std::string& text, const std::atomic<int>& blocksDone) {
  for (size_t i = 0; i < text.size(); i += 5) {
    waitForBlock(blocksDone, static_cast<int>(1 + i / 5));
    node.appendStreamingText(text.substr(i, 5), false);
  }
}

}  // namespace

TEST(RealtimeProbe, CountsCallsOnTheWatchedThreadOnly) {
  if (!realtime_probe::available()) GTEST_SKIP() << "sanitizer builds replace the allocator";
  std::mutex mutex;
  realtime_probe::watch();
  { std::lock_guard<std::mutex> lock(mutex); }
  auto value = std::make_unique<int>(1);
  std::free(strdup("freed at once"));
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
  EXPECT_GE(counts.frees, 1u);        // the copy freed at once
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

TEST(RealtimeProduce, SteadyPlaybackAndFinishedAllocateFreeLockAndBlockNothing) {
  if (!realtime_probe::available()) GTEST_SKIP() << "sanitizer builds replace the allocator";
  if (!voicePresent()) GTEST_SKIP() << "the demonstration voice is not in " << voiceDir();
  quorvel::Logger::setLevel(quorvel::LogLevel::Warning);
  FinishedSplit finished;
  auto node = renderedNode(QVAnyMap(), finished);
  ASSERT_TRUE(node) << "48 kHz stereo refused";

  // A spoken sentence; a streamed paragraph that waits for its end and is
  // then synthesised on the render thread; a sentence that cuts in.
  node->synthesize("The keeper climbed the stairs of the lighthouse every evening before dark, and he lit the lamp.");
  std::atomic<int> blocksDone{0};
  Tally tally;
  std::thread renderer([&] { tally = render(*node, finished, blocksDone); });
  while (node->internalsForTesting().currentItem.load() == nullptr) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const std::string paragraph =
      "He trimmed the wick and wiped the glass. Ships passed far out at sea, and none of them knew his name. "
      "One winter night the storm broke the lamp, so he lit a fire on the rocks and kept it burning until dawn.";
  for (size_t i = 0; i < paragraph.size(); i += 5) node->appendStreamingText(paragraph.substr(i, 5), false);
  waitForBlock(blocksDone, 650);
  node->synthesize("A small boat came in at noon, bringing bread, letters and a new lamp for the tower.");
  renderer.join();

  std::printf("[ INFO     ] warm-up %d blocks: %s\n", kWarmUpBlocks, realtime_probe::describe(tally.warmUp).c_str());
  std::printf("[ INFO     ] steady blocks %d: %s; worst %.1f us\n", tally.steadyBlocks, realtime_probe::describe(tally.steady).c_str(),
              tally.worstSteadyMicros);
  std::printf("[ INFO     ] blocks emitting \"finished\" %d, up to its delivery: %s\n", tally.finishingBlocks,
              realtime_probe::describe(tally.finishing).c_str());
  std::printf("[ INFO     ] switch blocks %d, after any delivery: %s; worst %.1f us (of 10000)\n", tally.switchBlocks,
              realtime_probe::describe(tally.switching).c_str(), tally.worstSwitchMicros);
  RecordProperty("worstSteadyBlockMicros", std::to_string(tally.worstSteadyMicros));
  RecordProperty("worstSwitchBlockMicros", std::to_string(tally.worstSwitchMicros));

  // The scenario did what it is meant to: speech nearly all the time, a
  // handful of switches (ends, take-ups, the streamed piece, the cut-in).
  EXPECT_GT(tally.playingBlocks, kBlocks * 9 / 10);
  EXPECT_GE(tally.switchBlocks, 2);
  EXPECT_LE(tally.switchBlocks, 12);
  EXPECT_GE(tally.finishingBlocks, 1);
  EXPECT_EQ(tally.finishingBlocks, finished.events.load());
  // The streamed piece was synthesised on the render thread: the engine
  // allocates there.
  EXPECT_GT(tally.switching.allocations, 0u);

  EXPECT_EQ(realtime_probe::describe(tally.steady), realtime_probe::describe({}));
  EXPECT_EQ(tally.firstSteadyCall, nullptr) << "first seen: " << tally.firstSteadyCall << " in block "
                                            << tally.firstSteadyBlock;
  EXPECT_EQ(realtime_probe::describe(tally.finishing), realtime_probe::describe({}));
  EXPECT_EQ(tally.firstFinishingCall, nullptr) << "first seen: " << tally.firstFinishingCall;
}

// With "prepareAhead" every streamed piece is generated by the call that
// appends its text, so the render thread makes no engine call: every block,
// the ends of pieces, their take-ups and a cut-in by a whole text
// synthesised on a control thread, allocates, frees, locks and blocks
// nothing.
TEST(RealtimeProduce, PreparedAheadTheRenderThreadNeverGeneratesOrAllocates) {
  if (!realtime_probe::available()) GTEST_SKIP() << "sanitizer builds replace the allocator";
  if (!voicePresent()) GTEST_SKIP() << "the demonstration voice is not in " << voiceDir();
  quorvel::Logger::setLevel(quorvel::LogLevel::Warning);
  FinishedSplit finished;
  auto node = renderedNode(QVAnyMap{{"prepareAhead", QVAny(true)}}, finished);
  ASSERT_TRUE(node) << "48 kHz stereo refused";
  std::atomic<int> announced{0};
  node->addListener("synthesisStarted", [&](const std::string&, const QVAny&) { announced.fetch_add(1); });
  std::atomic<int> words{0};
  node->addListener("spoken", [&](const std::string&, const QVAny&) { words.fetch_add(1); });

  // Streamed: the first piece starts at once, the next is prepared while it
  // plays, the final token queues the rest; later a whole text cuts in.
  const std::string paragraph =
      "The keeper climbed the stairs every evening at dark. He trimmed the wick. Ships passed far out at sea, "
      "and none of them knew his name. One winter night the storm broke the lamp, so he lit a fire on the rocks "
      "and kept it burning until dawn.";
  std::atomic<int> blocksDone{0};
  Tally tally;
  std::thread renderer([&] { tally = render(*node, finished, blocksDone); });
  appendFiveBytesABlock(*node, paragraph, blocksDone);
  node->appendStreamingText("", true);
  waitForBlock(blocksDone, 960);
  node->synthesize("A small boat came in at noon, bringing bread, letters and a new lamp for the tower.");
  renderer.join();

  realtime_probe::Counts all = tally.steady;
  all += tally.switching;
  std::printf("[ INFO     ] prepared ahead, blocks %d (%d switching): %s; worst steady %.1f us, worst switch %.1f us\n",
              kBlocks, tally.switchBlocks, realtime_probe::describe(all).c_str(), tally.worstSteadyMicros,
              tally.worstSwitchMicros);
  EXPECT_GE(tally.finishingBlocks, 2) << "the scenario should end pieces on the render thread";
  EXPECT_GE(announced.load(), 3);
  EXPECT_GT(words.load(), 20);
  EXPECT_GT(tally.playingBlocks, kBlocks * 9 / 10);
  EXPECT_EQ(realtime_probe::describe(all), realtime_probe::describe({}));
  EXPECT_EQ(realtime_probe::describe(tally.finishing), realtime_probe::describe({}));
}

// The generator pauses (a tool call) with the answer's next words held and
// no break in them, after three pieces were appended quickly: the second and
// third are prepared behind the first, so when each ends the render thread
// has nothing to make, and with only an unfinished stretch held it does not
// even look at the buffer. Every block, the ends of pieces included, is
// clean.
TEST(RealtimeProduce, PreparedAheadAPausingTokenStreamLeavesNothingForTheRenderThread) {
  if (!realtime_probe::available()) GTEST_SKIP() << "sanitizer builds replace the allocator";
  if (!voicePresent()) GTEST_SKIP() << "the demonstration voice is not in " << voiceDir();
  quorvel::Logger::setLevel(quorvel::LogLevel::Warning);
  FinishedSplit finished;
  auto node = renderedNode(QVAnyMap{{"prepareAhead", QVAny(true)}}, finished);
  ASSERT_TRUE(node) << "48 kHz stereo refused";
  // Captions: the words as they are spoken, on the render thread.
  std::atomic<int> words{0};
  node->addListener("spoken", [&](const std::string&, const QVAny&) { words.fetch_add(1); });

  const std::string quick =
      "The keeper climbed the stairs every evening at dark. He trimmed the wick and wiped the glass clean. "
      "Ships passed far out at sea, and none of them knew his name at all. While he";
  const std::string afterThePause = " waited for the boat, the sea stayed calm.";
  std::atomic<int> blocksDone{0};
  Tally tally;
  std::thread renderer([&] { tally = render(*node, finished, blocksDone); });
  appendFiveBytesABlock(*node, quick, blocksDone);
  // The pause: "While he" is held while the three pieces play out.
  waitForBlock(blocksDone, 900);
  node->appendStreamingText(afterThePause, true);
  renderer.join();

  realtime_probe::Counts all = tally.steady;
  all += tally.switching;
  std::printf("[ INFO     ] paused stream, blocks %d (%d switching, %d ending a piece): %s\n", kBlocks,
              tally.switchBlocks, tally.finishingBlocks, realtime_probe::describe(all).c_str());
  EXPECT_GE(tally.finishingBlocks, 3) << "the three pieces should end during the pause";
  EXPECT_GT(words.load(), 30) << "the pieces' words should have been reported as spoken";
  EXPECT_EQ(realtime_probe::describe(all), realtime_probe::describe({}));
  EXPECT_EQ(realtime_probe::describe(tally.finishing), realtime_probe::describe({}));
}
