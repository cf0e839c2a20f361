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

#include <quorvel/AudioBuffer.h>
#include <quorvel/AudioBus.h>

#include "RealVoice.h"
#include "engine/EngineConfig.h"
#include "engine/SherpaOnnxCApi.h"
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

struct TtsDeleter {
  void operator()(const SherpaOnnxOfflineTts* tts) const { SherpaOnnxDestroyOfflineTts(tts); }
};
using TtsPtr = std::unique_ptr<const SherpaOnnxOfflineTts, TtsDeleter>;

// The engine configured as the node configures it.
TtsPtr createEngineVoice(const std::string& model, const fs::path& dir) {
  const VoiceConfig config(model, (dir / "tokens.txt").string(), (dir / "espeak-ng-data").string());
  try {
    return TtsPtr(SherpaOnnxCreateOfflineTts(&config.record()));
  } catch (...) {
    return nullptr;
  }
}

std::vector<float> generate(const SherpaOnnxOfflineTts* tts, const char* text) {
  std::vector<float> samples;
  try {
    const SherpaOnnxGeneratedAudio* audio = SherpaOnnxOfflineTtsGenerate(tts, text, 0, 1.0f);
    if (audio == nullptr) return samples;
    samples.assign(audio->samples, audio->samples + audio->n);
    SherpaOnnxDestroyOfflineTtsGeneratedAudio(audio);
  } catch (...) {
    samples.clear();
  }
  return samples;
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
  std::vector<float> channel(160);
  float* channels[1] = {channel.data()};
  AudioBuffer<float> buffer(1, 160, true, 16000, channels);
  AudioBus bus;
  bus.setBuffer(&buffer);
  real_voice::EventNames events(node);
  node.synthesize(text);
  std::vector<float> out;
  for (int block = 0; block < 3000 && !events.finished(); ++block) {
    EXPECT_TRUE(node.produce(bus));
    out.insert(out.end(), channel.begin(), channel.end());
  }
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
  TtsPtr light = createEngineVoice(ortFile(lightDir(), kLightStem), lightDir());
  ASSERT_NE(light, nullptr);
  const std::vector<float> expected = generate(light.get(), kText);
  ASSERT_GT(expected.size(), 16000u);  // two sentences: well over a second
  ASSERT_GT(peakOf(expected), 0.05f);

  for (const std::string& model : {ortFile(heavyDir(), kHeavyStem), onnxFile(heavyDir(), kHeavyStem)}) {
    SCOPED_TRACE(model);
    TtsPtr heavy = createEngineVoice(model, heavyDir());
    ASSERT_NE(heavy, nullptr);
    EXPECT_EQ(SherpaOnnxOfflineTtsSampleRate(heavy.get()), 16000);
    const std::vector<float> samples = generate(heavy.get(), kText);
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
