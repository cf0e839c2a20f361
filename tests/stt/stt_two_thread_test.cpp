// Intake on an audio thread and decoding on a control thread at once: every
// sample reaches the engine, in order, whether decoded whole (processAudio)
// or in segments that end at every chunk (processSegment). Meant to run
// under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "SttTestFiles.h"
#include "fake_engine/FakeEngine.h"
#include "stt/SherpaSTTNode.h"
#include "support/TestBlock.h"

using namespace quorvel;
using namespace quorvel::extensions::sherpa;

namespace {

enum class Decoding { Whole, Segments };

void everySampleReachesTheEngineInOrder(Decoding decoding) {
  fake_engine::reset();
  stt_test::TempDir dir;
  const auto files = stt_test::writeRecognizerFiles(dir.path());
  SherpaSTTNode node;
  ASSERT_TRUE(node.loadSherpaModel(files.model, files.tokens, files.graph));
  AudioBusFormat format{48000, 1};
  ASSERT_TRUE(node.setBusFormat(format));
  fake_engine::reset();
  fake_engine::knobs().reportEndpoint = decoding == Decoding::Segments;
  auto decode = [&] {
    if (decoding == Decoding::Whole) {
      node.processAudio();
      return;
    }
    while (node.processSegment().isFinal) {
    }
  };

  // 10 ms blocks at 48000 Hz; more in total than the ring holds, so it wraps.
  constexpr unsigned kBlock = 480;
  constexpr unsigned kBlocks = 2500;
  std::atomic<bool> producerDone{false};

  std::thread audio([&] {
    test_kit::TestBlock block(1, kBlock, 48000);
    for (unsigned b = 0; b < kBlocks; ++b) {
      block.fillCounter(static_cast<float>(b * kBlock));
      // A dropped block is offered again, as a test source may; the host
      // itself would move on.
      while (!node.consume(block.bus())) std::this_thread::yield();
    }
    producerDone.store(true);
  });

  std::thread control([&] {
    for (;;) {
      const bool done = producerDone.load();
      decode();
      if (done) break;
    }
    decode();
  });

  audio.join();
  control.join();

  const std::vector<float> accepted = fake_engine::acceptedSamples();
  ASSERT_EQ(accepted.size(), static_cast<size_t>(kBlock) * kBlocks);
  size_t firstMismatch = 0;
  while (firstMismatch < accepted.size() && accepted[firstMismatch] == static_cast<float>(firstMismatch))
    ++firstMismatch;
  EXPECT_EQ(firstMismatch, accepted.size()) << "sample out of order or altered";
  for (int32_t rate : fake_engine::acceptedSampleRates()) EXPECT_EQ(rate, 48000);
  EXPECT_GE(fake_engine::calls().acceptWaveform.load(), 1);
}

}  // namespace

TEST(SttTwoThreads, EverySampleConsumedOnTheAudioThreadReachesTheEngineInOrder) {
  everySampleReachesTheEngineInOrder(Decoding::Whole);
}

TEST(SttTwoThreads, SegmentsEndingAtEveryChunkLoseNoSampleAndKeepTheOrder) {
  everySampleReachesTheEngineInOrder(Decoding::Segments);
  fake_engine::reset();
}
