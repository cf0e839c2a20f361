// The text-to-speech node with the real engine and the demonstration voice
// that lies in the "files" folder beside the test program.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "RealVoice.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

using namespace real_voice;
using test_kit::EventRecorder;

namespace {

class TTSRealEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!voicePresent())
      GTEST_SKIP() << "the demonstration voice is not in " << voiceDir() << " (run scripts/models/generate.sh)";
  }
  testing_support::LogCapture logs{LogLevel::Info};
  StereoBlock block;
};

}  // namespace

TEST_F(TTSRealEngine, SpeaksTheCreationTextAt48kStereo) {
  auto node = std::make_unique<SherpaTTSNode>(QVAnyMap{{"text", QVAny("Hello world.")}});
  AudioBusFormat format{48000, 2};
  ASSERT_TRUE(node->setBusFormat(format));
  EventRecorder events(*node);
  Playback first = playUntilFinished(*node, events, block);
  EXPECT_TRUE(first.allProduced);
  EXPECT_EQ(events.count("finished"), 1);
  EXPECT_GT(first.peak, 0.05f);
  EXPECT_TRUE(first.finiteAndAlike);
  EXPECT_GT(first.blocks, 20);  // "Hello world." lasts well over 200 ms
  RecordProperty("blocks", first.blocks);

  ASSERT_TRUE(node->callAction("synthesize", QVAnyMap{{"text", QVAny("Hello world.")}}).isOk());
  Playback second = playUntilFinished(*node, events, block);
  EXPECT_TRUE(second.allProduced);
  EXPECT_EQ(events.names(), (std::vector<std::string>{"finished", "synthesisStarted", "finished"}));
  EXPECT_GT(second.peak, 0.05f);
  EXPECT_EQ(logs.linesStartingWith("[LATENCY][TTS_FIRST_SYNTHESIS]").size(), 2u);
}

TEST_F(TTSRealEngine, LoadModelActionLoadsTheOnnxVoice) {
  auto node = std::make_unique<SherpaTTSNode>(QVAnyMap());
  Result<QVAny> r = node->callAction("loadModel", loadModelParams(onnxModel(), tokens(), dataDir()));
  ASSERT_TRUE(r.isOk());
  ASSERT_NE(r.value().asBool(), nullptr);
  EXPECT_TRUE(*r.value().asBool());
  EXPECT_TRUE(logs.contains("[SherpaTTSNode] Model already loaded, cleaning up before reloading"));
  EXPECT_TRUE(logs.contains("[SherpaTTSNode] TTS model loaded successfully"));

  AudioBusFormat format{48000, 2};
  ASSERT_TRUE(node->setBusFormat(format));
  EventRecorder events(*node);
  node->synthesize("Loaded again.");
  Playback p = playUntilFinished(*node, events, block);
  EXPECT_TRUE(p.allProduced);
  EXPECT_EQ(events.count("finished"), 1);
  EXPECT_GT(p.peak, 0.05f);
}

TEST_F(TTSRealEngine, ACorruptModelFailsCleanly) {
  test_kit::TempDir dir("qs_corrupt");
  const fs::path corrupt = dir / "corrupt.onnx";
  {
    std::mt19937 rng(7);
    std::ofstream out(corrupt, std::ios::binary);
    for (int i = 0; i < 65536; ++i) out.put(static_cast<char>(rng() & 0xff));
  }
  auto node = std::make_unique<SherpaTTSNode>(QVAnyMap());
  logs.clear();
  EXPECT_FALSE(node->loadModel(corrupt.string(), tokens(), dataDir()));
  EXPECT_TRUE(logs.contains("[SherpaTTSNode] Failed to create Sherpa Offline TTS."));
  EXPECT_TRUE(logs.contains("[SherpaTTSNode] Check that the model files exist and are valid"));
  // The file never reaches the engine, and the loaded voice goes on speaking.
  EXPECT_FALSE(logs.contains("[SherpaTTSNode] Cleaning up resources..."));
  node->synthesize("Still here.");
  float peak = 0.0f;
  for (int i = 0; i < 50; ++i) {
    EXPECT_TRUE(node->produce(block.bus()));
    peak = std::max(peak, *std::max_element(block.channel(0), block.channel(0) + block.frames()));
  }
  EXPECT_GT(peak, 0.0f);
}
