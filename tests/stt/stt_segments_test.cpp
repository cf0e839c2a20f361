// Turn ends of the recognition node against the engine double: the
// endpoint setting reaching the engine's configuration at the next load,
// and processSegment's segments, chunks and onsets.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>

#include "SttTestFiles.h"
#include "fake_engine/FakeEngine.h"
#include "stt/STTInternals.h"
#include "stt/SherpaSTTNode.h"
#include "support/TestBlock.h"

using namespace quorvel;
using namespace quorvel::extensions::sherpa;

namespace {

// The default input rate is 48000 Hz: the node feeds the engine 4800 frames
// at a time.
constexpr unsigned kChunk = 4800;

class SttSegments : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_engine::reset();
    files = stt_test::writeRecognizerFiles(dir.path());
    internals = std::make_unique<SherpaSTTNode::Internals>(20000);
    ASSERT_TRUE(load());
  }
  void TearDown() override {
    internals.reset();
    fake_engine::reset();
  }
  bool load() { return internals->loadSherpaModel(files.model, files.tokens, files.graph); }
  void buffer(unsigned frames) {
    test_kit::TestBlock block(1, frames, 48000, 0.1f);
    ASSERT_TRUE(internals->consume(block.bus()));
  }
  unsigned buffered() const { return internals->inputBuffer->getAvailableFramesToConsume(); }

  stt_test::TempDir dir;
  stt_test::RecognizerFiles files;
  std::unique_ptr<SherpaSTTNode::Internals> internals;
};

}  // namespace

TEST_F(SttSegments, EndpointSettingReachesTheEngineAtTheNextLoadOnly) {
  EXPECT_EQ(fake_engine::lastRecognizerConfig().enable_endpoint, 0);
  const int loads = fake_engine::calls().createRecognizer.load();
  ASSERT_TRUE(internals->setEndpointDetection(true, 0.5f));
  EXPECT_EQ(fake_engine::calls().createRecognizer.load(), loads);
  EXPECT_EQ(fake_engine::lastRecognizerConfig().enable_endpoint, 0);

  ASSERT_TRUE(load());
  SherpaOnnxOnlineRecognizerConfig config = fake_engine::lastRecognizerConfig();
  EXPECT_EQ(config.enable_endpoint, 1);
  EXPECT_FLOAT_EQ(config.rule2_min_trailing_silence, 0.5f);
  EXPECT_FLOAT_EQ(config.rule1_min_trailing_silence, 2.4f);
  EXPECT_FLOAT_EQ(config.rule3_min_utterance_length, 20.0f);
  EXPECT_EQ(config.feat_config.feature_dim, 80);

  ASSERT_TRUE(internals->setEndpointDetection(false, SherpaSTTNode::kDefaultEndpointSilence));
  ASSERT_TRUE(load());
  config = fake_engine::lastRecognizerConfig();
  EXPECT_EQ(config.enable_endpoint, 0);
  EXPECT_EQ(config.rule1_min_trailing_silence, 0.0f);
  EXPECT_EQ(config.rule2_min_trailing_silence, 0.0f);
  EXPECT_EQ(config.rule3_min_utterance_length, 0.0f);
}

TEST_F(SttSegments, SilenceThatIsNoNumberOfSecondsIsRefusedAndTheSettingKept) {
  ASSERT_TRUE(internals->setEndpointDetection(true, 1.2f));
  for (float bad : {0.0f, -0.8f, 60.5f, std::numeric_limits<float>::quiet_NaN(),
                    std::numeric_limits<float>::infinity()}) {
    EXPECT_FALSE(internals->setEndpointDetection(true, bad)) << bad;
  }
  ASSERT_TRUE(load());
  EXPECT_EQ(fake_engine::lastRecognizerConfig().enable_endpoint, 1);
  EXPECT_FLOAT_EQ(fake_engine::lastRecognizerConfig().rule2_min_trailing_silence, 1.2f);
}

TEST_F(SttSegments, AnEndpointEndsTheCallAtItsChunkAndLeavesTheRestBuffered) {
  fake_engine::knobs().reportEndpoint = true;
  buffer(2 * kChunk + 100);
  uint32_t expectedSegment = 0;
  for (unsigned left : {kChunk + 100, 100u, 0u}) {
    const auto r = internals->processSegment();
    EXPECT_TRUE(r.isFinal);
    EXPECT_EQ(r.text, "hello world");
    EXPECT_EQ(r.segment, expectedSegment++);
    EXPECT_TRUE(r.textGrew);
    EXPECT_EQ(buffered(), left);
  }
  EXPECT_EQ(fake_engine::calls().reset.load(), 3);
  EXPECT_EQ(fake_engine::calls().samplesAccepted.load(), 2 * kChunk + 100);

  // With nothing buffered the call ends no segment.
  const auto idle = internals->processSegment();
  EXPECT_FALSE(idle.isFinal);
  EXPECT_EQ(idle.segment, 3u);
}

TEST_F(SttSegments, EndpointsWithoutTextPassUnseen) {
  fake_engine::knobs().reportEndpoint = true;
  fake_engine::knobs().recognizedText = "";
  buffer(3 * kChunk);
  const auto r = internals->processSegment();
  EXPECT_FALSE(r.isFinal);
  EXPECT_TRUE(r.text.empty());
  EXPECT_FALSE(r.textGrew);
  EXPECT_EQ(r.segment, 0u);
  EXPECT_EQ(buffered(), 0u);
  EXPECT_EQ(fake_engine::calls().reset.load(), 3);
}

TEST_F(SttSegments, TextGrowsOnceForNewWordsAndANewStreamStartsANewSegment) {
  buffer(1000);
  auto r = internals->processSegment();
  EXPECT_FALSE(r.isFinal);
  EXPECT_EQ(r.text, "hello world");
  EXPECT_TRUE(r.textGrew);
  buffer(1000);
  r = internals->processSegment();
  EXPECT_EQ(r.text, "hello world");
  EXPECT_FALSE(r.textGrew);
  fake_engine::knobs().recognizedText = "hello world again";
  r = internals->processSegment();
  EXPECT_TRUE(r.textGrew);
  EXPECT_EQ(r.segment, 0u);

  // A reload drops the unfinished segment: the next words are another one.
  ASSERT_TRUE(load());
  buffer(1000);
  r = internals->processSegment();
  EXPECT_EQ(r.segment, 1u);
  EXPECT_TRUE(r.textGrew);
}

TEST_F(SttSegments, FailuresGiveAnEmptyResultWithoutEndingASegment) {
  fake_engine::knobs().reportEndpoint = true;
  fake_engine::knobs().decodeThrows = true;
  buffer(1000);
  auto r = internals->processSegment();
  EXPECT_FALSE(r.isFinal);
  EXPECT_TRUE(r.text.empty());

  // Without a model the audio stays buffered for one loaded later.
  internals->cleanup();
  buffer(1000);
  r = internals->processSegment();
  EXPECT_FALSE(r.isFinal);
  EXPECT_TRUE(r.text.empty());
  EXPECT_EQ(buffered(), 1000u);
}
