// Nodes sharing one engine object on the real engine, each driven by a
// thread of its own: several speech nodes generating at once on one voice,
// two recognition nodes decoding two files at once on one recognizer. Each
// node must give what it gives alone. Run under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <quorvel/AudioBuffer.h>
#include <quorvel/AudioBus.h>
#include <quorvel/Logger.h>

#include "RealRecognizer.h"
#include "RealVoice.h"
#include "stt/STTInternals.h"
#include "stt/SherpaSTTNode.h"
#include "tts/TTSInternals.h"

using namespace quorvel;
using namespace quorvel::extensions::sherpa;
namespace fs = std::filesystem;

namespace {

// The voice whose generation takes long enough for the threads' generations
// to overlap: the real-cost fixture when present, else the demonstration voice.
struct VoiceFiles {
  std::string model, tokens, dataDir;
};
VoiceFiles slowestVoice() {
  const fs::path heavy = executableDirectory() / "files" / "en_GB" / "vits-piper-en_GB-southern_english_female-low-real-cost";
  const fs::path heavyModel = heavy / "en_GB-southern_english_female-low-real-cost.with_runtime_opt.ort";
  if (fs::exists(heavyModel))
    return {heavyModel.string(), (heavy / "tokens.txt").string(), (heavy / "espeak-ng-data").string()};
  return {defaultTTSModelPath("en"), real_voice::tokens(), real_voice::dataDir()};
}

// Speaks `text` at the voice's own rate (so the samples pass unconverted)
// and returns every block up to the one that ends with "finished".
std::vector<float> speak(SherpaTTSNode& node, const std::string& text) {
  test_kit::TestBlock block(1, 160);
  test_kit::EventRecorder events(node);
  node.synthesize(text);
  std::vector<float> out;
  real_voice::playUntilFinished(node, events, block, &out);
  return out;
}

// Room for the whole of a test file: decoding keeps up anyway.
constexpr unsigned kInputFrames = 16000 * 10;

// Lifecycle lines of every node would drown the output.
class SharedEngineRealTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous = Logger::getLevel();
    Logger::setLevel(LogLevel::Warning);
  }
  void TearDown() override { Logger::setLevel(previous); }
  LogLevel previous = LogLevel::Info;
};

}  // namespace

TEST_F(SharedEngineRealTest, SpeechNodesGeneratingAtOnceOnOneVoiceEachSayTheirOwnText) {
  if (!real_voice::voicePresent()) GTEST_SKIP() << "generated voices missing (run scripts/models/generate.sh)";
  const VoiceFiles files = slowestVoice();
  const std::vector<std::string> texts = {
      "Hello world. The quick brown fox jumps over the lazy dog.",
      "Good morning. The weather is getting worse, so take the bus home.",
      "A small boat crossed the river while the sun was going down slowly.",
      "Children played in the park while their parents talked on the benches.",
  };
  constexpr int kRounds = 2;
  std::vector<std::unique_ptr<SherpaTTSNode>> nodes;
  for (size_t i = 0; i < texts.size(); ++i) {
    nodes.push_back(std::make_unique<SherpaTTSNode>(QVAnyMap{}));
    ASSERT_TRUE(nodes.back()->loadModel(files.model, files.tokens, files.dataDir));
    AudioBusFormat format{16000, 1};
    ASSERT_TRUE(nodes.back()->setBusFormat(format));
  }
  for (const auto& node : nodes) EXPECT_EQ(node->internalsForTesting().tts, nodes[0]->internalsForTesting().tts);

  // Each text alone first, one node at a time.
  std::vector<std::vector<float>> alone;
  for (size_t i = 0; i < texts.size(); ++i) alone.push_back(speak(*nodes[i], texts[i]));

  std::vector<std::vector<std::vector<float>>> together(texts.size());
  std::vector<std::thread> threads;
  for (size_t i = 0; i < texts.size(); ++i) {
    threads.emplace_back([&, i] {
      for (int round = 0; round < kRounds; ++round) together[i].push_back(speak(*nodes[i], texts[i]));
    });
  }
  for (auto& t : threads) t.join();
  for (size_t i = 0; i < texts.size(); ++i) {
    SCOPED_TRACE(texts[i]);
    ASSERT_GT(alone[i].size(), 16000u);  // a second or more of speech
    for (const auto& heard : together[i]) EXPECT_EQ(heard, alone[i]);
  }
}

// The engine was handed the first node's configuration, which points at
// that node's strings; they go with that node while the voice lives on, so
// the voice must not need them after its creation.
TEST_F(SharedEngineRealTest, TheNodeThatMadeTheVoiceGoesAndTheOtherSpeaksOn) {
  if (!real_voice::voicePresent()) GTEST_SKIP() << "generated voices missing (run scripts/models/generate.sh)";
  const std::string text = "Hello world.";
  auto maker = std::make_unique<SherpaTTSNode>(QVAnyMap{});
  auto sharer = std::make_unique<SherpaTTSNode>(QVAnyMap{});
  AudioBusFormat format{16000, 1};
  ASSERT_TRUE(sharer->setBusFormat(format));
  const std::vector<float> before = speak(*sharer, text);
  ASSERT_EQ(maker->internalsForTesting().tts, sharer->internalsForTesting().tts);
  maker.reset();
  EXPECT_EQ(speak(*sharer, text), before);
  EXPECT_GT(before.size(), 8000u);
}

TEST_F(SharedEngineRealTest, TwoRecognitionNodesOnOneRecognizerDecodeTwoFilesAtOnce) {
  if (!real_recognizer::recognizerPresent()) GTEST_SKIP() << "generated recognizer or test audio missing";
  std::vector<known_audio::KnownAudio> inputs;
  for (const auto& k : real_recognizer::knownAudio()) {
    if (k.rate == 16000 && (inputs.empty() || k.text != inputs[0].text)) inputs.push_back(k);
  }
  ASSERT_GE(inputs.size(), 2u) << "two known audio files of different texts at 16000 Hz";
  inputs.resize(2);

  // The node's whole state, which shows its engine handles; the default
  // recognizer files beside the test program are loaded by both.
  SherpaSTTNode::Internals first(kInputFrames), second(kInputFrames);
  ASSERT_NE(first.recognizer, nullptr);
  EXPECT_EQ(second.recognizer, first.recognizer);
  EXPECT_NE(second.stream, first.stream);
  SherpaSTTNode::Internals* nodes[] = {&first, &second};
  std::string heard[2];
  std::vector<std::thread> threads;
  for (int i = 0; i < 2; ++i) {
    AudioBusFormat format{16000, 1};
    ASSERT_TRUE(nodes[i]->setBusFormat(format));
    threads.emplace_back([&, i] { heard[i] = real_recognizer::feed(*nodes[i], inputs[i].wav.samples, 160, 10); });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(heard[0], inputs[0].text);
  EXPECT_EQ(heard[1], inputs[1].text);
}
