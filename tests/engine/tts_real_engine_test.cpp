// The text-to-speech node with the real engine and the demonstration voice
// that lies in the "files" folder beside the test program.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include <quorvel/AudioBuffer.h>
#include <quorvel/AudioBus.h>

#include "RealVoice.h"
#include "models/ModelPaths.h"
#include "support/LogCapture.h"
#include "tts/SherpaTTSNode.h"

using namespace quorvel;
using namespace quorvel::extensions::sherpa;
namespace fs = std::filesystem;

namespace {

using namespace real_voice;

struct Playback {
  float peak = 0.0f;
  bool channelsIdentical = true;
  int blocks = 0;
};

// Produces 10 ms blocks until the next "finished" (at most 30 s of audio).
Playback playUntilFinished(SherpaTTSNode& node, const EventNames& events) {
  StereoBlock block;
  Playback p;
  const long before = events.finishedCount();
  while (events.finishedCount() == before && p.blocks < 3000) {
    EXPECT_TRUE(node.produce(block.bus()));
    for (size_t i = 0; i < block.left().size(); ++i) {
      p.peak = std::max(p.peak, std::abs(block.left()[i]));
      if (block.left()[i] != block.right()[i]) p.channelsIdentical = false;
    }
    ++p.blocks;
  }
  return p;
}

class TTSRealEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!voicePresent())
      GTEST_SKIP() << "the demonstration voice is not in " << voiceDir() << " (run scripts/models/generate.sh)";
  }
  testing_support::LogCapture logs{LogLevel::Info};
};

}  // namespace

TEST_F(TTSRealEngine, SpeaksTheCreationTextAt48kStereo) {
  auto node = std::make_unique<SherpaTTSNode>(QVAnyMap{{"text", QVAny("Hello world.")}});
  AudioBusFormat format{48000, 2};
  ASSERT_TRUE(node->setBusFormat(format));
  EventNames events(*node);
  Playback first = playUntilFinished(*node, events);
  EXPECT_TRUE(events.finished());
  EXPECT_GT(first.peak, 0.05f);
  EXPECT_TRUE(first.channelsIdentical);
  EXPECT_GT(first.blocks, 20);  // "Hello world." lasts well over 200 ms
  RecordProperty("blocks", first.blocks);

  ASSERT_TRUE(node->callAction("synthesize", QVAnyMap{{"text", QVAny("Hello world.")}}).isOk());
  Playback second = playUntilFinished(*node, events);
  EXPECT_EQ(events.names(), (std::vector<std::string>{"finished", "synthesisStarted", "finished"}));
  EXPECT_GT(second.peak, 0.05f);
  EXPECT_EQ(logs.linesStartingWith("[LATENCY][TTS_FIRST_SYNTHESIS]").size(), 2u);
}

TEST_F(TTSRealEngine, LoadModelActionLoadsTheOnnxVoice) {
  auto node = std::make_unique<SherpaTTSNode>(QVAnyMap());
  Result<QVAny> r = node->callAction(
      "loadModel", QVAnyMap{{"modelPath", QVAny(onnxModel())}, {"tokensPath", QVAny(tokens())}, {"dataPath", QVAny(dataDir())}});
  ASSERT_TRUE(r.isOk());
  ASSERT_NE(r.value().asBool(), nullptr);
  EXPECT_TRUE(*r.value().asBool());
  EXPECT_TRUE(logs.contains("[SherpaTTSNode] Model already loaded, cleaning up before reloading"));
  EXPECT_TRUE(logs.contains("[SherpaTTSNode] TTS model loaded successfully"));

  AudioBusFormat format{48000, 2};
  ASSERT_TRUE(node->setBusFormat(format));
  EventNames events(*node);
  node->synthesize("Loaded again.");
  Playback p = playUntilFinished(*node, events);
  EXPECT_TRUE(events.finished());
  EXPECT_GT(p.peak, 0.05f);
}

TEST_F(TTSRealEngine, ACorruptModelFailsCleanly) {
  const fs::path corrupt = fs::temp_directory_path() / ("qs_corrupt_" + std::to_string(::getpid()) + ".onnx");
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
  StereoBlock block;
  float peak = 0.0f;
  for (int i = 0; i < 50; ++i) {
    EXPECT_TRUE(node->produce(block.bus()));
    peak = std::max(peak, *std::max_element(block.left().begin(), block.left().end()));
  }
  EXPECT_GT(peak, 0.0f);
  fs::remove(corrupt);
}
