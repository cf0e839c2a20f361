// The real-cost voice: the English demonstration voice with a real voice's
// compute cost added, a benchmark fixture that must be a drop-in for the
// light voice (same metadata, same tokens, the same audio sample for
// sample). Its cost is measured by bench/voice_cost_bench, not here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "RealVoice.h"
#include "models/ModelMetadata.h"
#include "models/ModelPaths.h"
#include "support/LogCapture.h"
#include "tts/SherpaTTSNode.h"

using namespace quorvel;
using namespace quorvel::extensions::sherpa;
namespace fs = std::filesystem;

namespace {

const std::string kLightStem = "en_GB-southern_english_female-low";
const std::string kHeavyStem = "en_GB-southern_english_female-low-real-cost";
const char* const kText = "Hello world. The quick brown fox jumps over the lazy dog.";

fs::path lightDir() { return real_voice::voiceDir(); }
fs::path heavyDir() {
  return executableDirectory() / "files" / "en_GB" / "vits-piper-en_GB-southern_english_female-low-real-cost";
}
std::string ortFile(const fs::path& dir, const std::string& stem) {
  return (dir / (stem + ".with_runtime_opt.ort")).string();
}
std::string onnxFile(const fs::path& dir, const std::string& stem) { return (dir / (stem + ".onnx")).string(); }

std::string fileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The engine with `model` and the tokens and data beside it.
std::unique_ptr<real_voice::EngineVoice> engineVoice(const std::string& model, const fs::path& dir) {
  return std::make_unique<real_voice::EngineVoice>(model, (dir / "tokens.txt").string(), (dir / "espeak-ng-data").string());
}

float peakOf(const std::vector<float>& samples) {
  float peak = 0.0f;
  for (float s : samples) peak = std::max(peak, std::fabs(s));
  return peak;
}

// Speaks `text` on a node at 16000 Hz mono (the voice's own rate, so the
// node hands the voice's samples on unconverted) and returns every block
// produced up to and including the one that ends with "finished".
std::vector<float> speakThroughNode(SherpaTTSNode& node, const std::string& text) {
  AudioBusFormat format{16000, 1};
  EXPECT_TRUE(node.setBusFormat(format));
  test_kit::TestBlock block(1, 160);
  test_kit::EventRecorder events(node);
  node.synthesize(text);
  std::vector<float> out;
  EXPECT_TRUE(real_voice::playUntilFinished(node, events, block, &out).allProduced);
  EXPECT_EQ(events.names(), (std::vector<std::string>{"synthesisStarted", "finished"}));
  return out;
}

class RealCostVoice : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!real_voice::voicePresent() || !fs::exists(ortFile(heavyDir(), kHeavyStem)))
      GTEST_SKIP() << "the generated voices are not in " << heavyDir().parent_path()
                   << " (run scripts/models/generate.sh)";
  }
};

}  // namespace

TEST_F(RealCostVoice, CarriesTheLightVoicesMetadataAndTokensInBothFormats) {
  for (const auto& [light, heavy] : {std::pair{onnxFile(lightDir(), kLightStem), onnxFile(heavyDir(), kHeavyStem)},
                                     std::pair{ortFile(lightDir(), kLightStem), ortFile(heavyDir(), kHeavyStem)}}) {
    SCOPED_TRACE(heavy);
    const auto lightMetadata = readModelMetadata(light);
    const auto heavyMetadata = readModelMetadata(heavy);
    ASSERT_TRUE(lightMetadata.has_value());
    ASSERT_TRUE(heavyMetadata.has_value());
    EXPECT_EQ(metadataValue(*heavyMetadata, "sample_rate"), "16000");
    EXPECT_EQ(*heavyMetadata, *lightMetadata);
  }
  const std::string tokens = fileBytes(heavyDir() / "tokens.txt");
  EXPECT_FALSE(tokens.empty());
  EXPECT_EQ(tokens, fileBytes(lightDir() / "tokens.txt"));
  EXPECT_TRUE(fs::exists(heavyDir() / "espeak-ng-data" / "phontab"));
}

TEST_F(RealCostVoice, EngineGivesTheLightVoicesSamplesFromTheOrtAndTheOnnxFile) {
  const auto light = engineVoice(ortFile(lightDir(), kLightStem), lightDir());
  ASSERT_TRUE(light->ok());
  const std::vector<float> expected = light->speak(kText);
  ASSERT_GT(expected.size(), 16000u);  // two sentences: well over a second
  ASSERT_GT(peakOf(expected), 0.05f);

  for (const std::string& model : {ortFile(heavyDir(), kHeavyStem), onnxFile(heavyDir(), kHeavyStem)}) {
    SCOPED_TRACE(model);
    const auto heavy = engineVoice(model, heavyDir());
    ASSERT_TRUE(heavy->ok());
    EXPECT_EQ(heavy->sampleRate(), 16000);
    const std::vector<float> samples = heavy->speak(kText);
    ASSERT_EQ(samples.size(), expected.size());
    EXPECT_TRUE(samples == expected) << "the real-cost voice changed the audio";
  }
}

TEST_F(RealCostVoice, LoadsIntoTheSpeechNodeAndPlaysWhatTheLightVoicePlays) {
  testing_support::LogCapture logs{LogLevel::Info};
  SherpaTTSNode lightNode{QVAnyMap()};
  const std::vector<float> expected = speakThroughNode(lightNode, kText);
  ASSERT_GT(peakOf(expected), 0.05f);

  SherpaTTSNode heavyNode{QVAnyMap()};
  ASSERT_TRUE(heavyNode.loadModel(ortFile(heavyDir(), kHeavyStem), (heavyDir() / "tokens.txt").string(),
                                  (heavyDir() / "espeak-ng-data").string()));
  const std::vector<float> played = speakThroughNode(heavyNode, kText);
  ASSERT_EQ(played.size(), expected.size());
  EXPECT_TRUE(played == expected) << "the node played other audio with the real-cost voice";
}
