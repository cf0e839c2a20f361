// Bad input to the recognition node, against the engine double: actions and
// values it does not have, unusable formats, blocks of no frames and of more
// than the ring buffer holds. After each, a good block still reaches the
// engine and its text comes back. Non-finite samples: SttAudioIntake and
// SttRealEngine.NonFiniteSamplesDoNotFreezeTheResult; broken recognizer
// files on the real engine: tests/engine/bad_input_real_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <quorvel/QVAny.h>

#include "SttTestFiles.h"
#include "fake_engine/FakeEngine.h"
#include "stt/SherpaSTTNode.h"
#include "support/LogCapture.h"
#include "support/TestBlock.h"

using namespace quorvel;
using namespace quorvel::extensions::sherpa;
using testing_support::LogCapture;

namespace {

constexpr unsigned kNodeCapacity = 480000;

// 16 kHz mono samples of `value`.
struct MonoBlock : test_kit::TestBlock {
  explicit MonoBlock(unsigned frames, float value = 0.5f) : TestBlock(1, frames, 16000, value) {}
};

class BadInputSTT : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_engine::reset();
    files = stt_test::writeRecognizerFiles(dir.path());
    node = std::make_unique<SherpaSTTNode>();
    ASSERT_TRUE(node->loadSherpaModel(files.model, files.tokens, files.graph));
    fake_engine::reset();
  }
  void TearDown() override {
    node.reset();
    fake_engine::reset();
  }

  // A good block is taken, reaches the engine whole and its text comes back.
  bool decodesAfterwards() {
    const int64_t before = fake_engine::calls().samplesAccepted.load();
    MonoBlock good(1600);
    return node->consume(good.bus()) && node->processAudio() == "hello world" &&
           fake_engine::calls().samplesAccepted.load() - before == 1600;
  }

  stt_test::TempDir dir;
  stt_test::RecognizerFiles files;
  std::unique_ptr<SherpaSTTNode> node;
};

}  // namespace

// The node has no actions and no values: every call, whatever its
// parameters, gets the base class's error naming what was asked for.
TEST_F(BadInputSTT, EveryActionAndValueIsUnknownWhateverItsParameters) {
  const QVAnyMap params{{"text", QVAny(QVAnyMap{{"x", QVAny(1)}})},
                        {"isFinal", QVAny("yes")},
                        {"modelPath", QVAny(std::numeric_limits<double>::infinity())},
                        {"", QVAny()}};
  for (const std::string& name : std::vector<std::string>{"processAudio", "loadSherpaModel", "synthesize", "setEnabled", "",
                                                         std::string("\xff\0x", 3)}) {
    Result<QVAny> r = node->callAction(name, params);
    EXPECT_FALSE(r.isOk());
    EXPECT_EQ(r.error(), "Unknown action: " + name);
  }
  EXPECT_EQ(node->setValue("enabled", QVAny(false)).error(), "Unknown value: enabled");
  EXPECT_EQ(node->getValue("sampleRate").error(), "Unknown value: sampleRate");
  EXPECT_TRUE(node->isEnabled());
  EXPECT_EQ(fake_engine::calls().acceptWaveform.load(), 0);
  EXPECT_TRUE(decodesAfterwards());
}

TEST_F(BadInputSTT, UnusableChannelCountsAndRatesAreRefused) {
  for (unsigned channels : {0u, 1u, 3u, 6u}) {
    for (int rate : {0, -1, 10000000}) {
      SCOPED_TRACE(std::to_string(channels) + " channels at " + std::to_string(rate));
      LogCapture log;
      AudioBusFormat format{rate, channels};
      EXPECT_FALSE(node->setBusFormat(format));
      EXPECT_TRUE(log.contains("[SherpaSTTNode] Unsupported sample rate: " + std::to_string(rate) +
                               " Hz (8000 to 192000 supported)."));
    }
  }
  // A usable rate with a refused channel count is kept (the block's first
  // channel is what is buffered).
  for (unsigned channels : {0u, 3u, 6u}) {
    LogCapture log;
    AudioBusFormat format{16000, channels};
    EXPECT_FALSE(node->setBusFormat(format));
    EXPECT_TRUE(log.contains("[SherpaSTTNode] Number of channels must be 1."));
  }
  EXPECT_TRUE(decodesAfterwards());
  EXPECT_EQ(fake_engine::acceptedSampleRates(), (std::vector<int32_t>{16000}));
}

TEST_F(BadInputSTT, ABlockOfNoFramesIsTakenAndDecodesNothing) {
  LogCapture log;
  for (int i = 0; i < 3; ++i) {
    MonoBlock block(1);
    EXPECT_TRUE(node->consume(block.wrap(0)));
  }
  EXPECT_EQ(node->processAudio(), "");
  EXPECT_EQ(fake_engine::calls().acceptWaveform.load(), 0);
  EXPECT_TRUE(log.lines().empty());
  EXPECT_TRUE(decodesAfterwards());
}

// SttAudioIntake covers a block larger than the free space; this one is
// larger than the whole ring on an empty ring.
TEST_F(BadInputSTT, ABlockLargerThanTheWholeRingIsDroppedAndTheNextGoodOneIsTaken) {
  LogCapture log;
  MonoBlock tooLarge(kNodeCapacity + 1);
  EXPECT_FALSE(node->consume(tooLarge.bus()));
  EXPECT_EQ(log.count("[SherpaSTTNode] Input buffer is full, dropping audio data."), 1u);
  MonoBlock huge(16u << 20);
  EXPECT_FALSE(node->consume(huge.bus()));
  EXPECT_EQ(node->processAudio(), "");
  EXPECT_EQ(fake_engine::calls().acceptWaveform.load(), 0);
  EXPECT_TRUE(decodesAfterwards());
  MonoBlock exactlyFull(kNodeCapacity);
  EXPECT_TRUE(node->consume(exactlyFull.bus()));
  EXPECT_EQ(node->processAudio(), "hello world");
  EXPECT_EQ(fake_engine::calls().samplesAccepted.load(), 1600 + kNodeCapacity);
}

TEST_F(BadInputSTT, SamplesLargeEnoughToOverflowTheFeaturesReachTheEngineClamped) {
  MonoBlock block(4, 0.0f);
  const float wild[] = {1e20f, -std::numeric_limits<float>::max(), 1e9f, -32768.0f};
  std::copy(std::begin(wild), std::end(wild), block.channel(0));
  LogCapture log;
  ASSERT_TRUE(node->consume(block.bus()));
  EXPECT_EQ(node->processAudio(), "hello world");
  EXPECT_EQ(fake_engine::acceptedSamples(), (std::vector<float>{1e9f, -1e9f, 1e9f, -32768.0f}));
  EXPECT_TRUE(log.contains("[SherpaSTTNode] Clamped 2 samples beyond +/-1e9"));
}
