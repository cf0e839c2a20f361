// The recognition node with the real engine and the generated recognizer:
// known audio decodes to its known text, and inputs on which the engine
// crashes or ends the process are met without either. Each hard case runs in
// a child process, so a regression fails its test instead of the suite.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <quorvel/AudioBuffer.h>
#include <quorvel/AudioBus.h>
#include <quorvel/Logger.h>

#include "ChildProcess.h"
#include "RealRecognizer.h"
#include "models/ModelPaths.h"
#include "stt/SherpaSTTNode.h"
#include "stt/SttTestFiles.h"
#include "support/TempDir.h"

using namespace quorvel;
using namespace quorvel::extensions::sherpa;
namespace fs = std::filesystem;

namespace {

using namespace real_recognizer;

// Lifecycle info lines of every node would drown the test output.
class SttRealEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    previous = Logger::getLevel();
    Logger::setLevel(LogLevel::Warning);
    if (!recognizerPresent())
      GTEST_SKIP() << "generated recognizer or test audio missing beside the test program (files/, testdata/); "
                      "run scripts/models/generate.sh";
  }
  void TearDown() override { Logger::setLevel(previous); }
  LogLevel previous = LogLevel::Info;
};

bool setRate(SherpaSTTNode& node, int rate) {
  AudioBusFormat format{rate, 1};
  return node.setBusFormat(format);
}

}  // namespace

TEST_F(SttRealEngine, KnownAudioFedInTenMillisecondBlocksDecodesToItsText) {
  const auto known = knownAudio();
  ASSERT_FALSE(known.empty());
  bool at16k = false, at48k = false;
  for (const auto& k : known) {
    SCOPED_TRACE(k.file);
    ASSERT_EQ(k.wav.rate, k.rate);
    ASSERT_FALSE(k.wav.samples.empty());
    SherpaSTTNode node;
    ASSERT_TRUE(setRate(node, k.rate));
    EXPECT_EQ(feed(node, k.wav.samples, static_cast<size_t>(k.rate / 100), 10), k.text);
    at16k = at16k || k.rate == 16000;
    at48k = at48k || k.rate == 48000;
  }
  EXPECT_TRUE(at16k && at48k) << "the manifest should hold audio at 16000 and 48000 Hz";
}

TEST_F(SttRealEngine, KnownAudioFedAllAtOnceGivesTheSameText) {
  for (const auto& k : knownAudio()) {
    SCOPED_TRACE(k.file);
    SherpaSTTNode node;
    ASSERT_TRUE(setRate(node, k.rate));
    EXPECT_EQ(feed(node, k.wav.samples, 0, 1), k.text);
  }
}

// ---- Inputs the engine does not survive on its own -------------------------

namespace {

using child_process::expectChildSucceeds;
using stt_test::readText;
using stt_test::writeText;
using test_kit::TempDir;

std::string randomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

// A load with the generated model and one replaced file must be refused
// without harm, and the node must go on decoding with the model it had: the
// refused files never reach the engine and the loaded model is not released.
bool loadIsRefusedAndTheModelKept(const std::string& model, const std::string& tokens, const std::string& graph) {
  SherpaSTTNode node;
  if (node.loadSherpaModel(model, tokens, graph)) return false;
  auto k = knownAudioAt(16000);
  if (!k) return false;
  return setRate(node, 16000) && feed(node, k->wav.samples, 160, 10) == k->text;
}

}  // namespace

TEST_F(SttRealEngine, ARateChangeMidStreamStartsANewStreamInsteadOfEndingTheProcess) {
  expectChildSucceeds([] {
    auto k16 = knownAudioAt(16000);
    auto k48 = knownAudioAt(48000);
    if (!k16 || !k48) return false;
    SherpaSTTNode node;
    if (!setRate(node, 16000) || feed(node, k16->wav.samples, 160, 10) != k16->text) return false;
    if (!setRate(node, 48000)) return false;
    return feed(node, k48->wav.samples, 480, 10) == k48->text;
  });
}

TEST_F(SttRealEngine, UnusableRatesAreRefusedAndTheLastGoodRateStays) {
  expectChildSucceeds([] {
    auto k = knownAudioAt(16000);
    if (!k) return false;
    SherpaSTTNode node;
    if (!setRate(node, 16000)) return false;
    for (int bad : {0, 1, -16000}) {
      if (setRate(node, bad)) return false;
    }
    return feed(node, k->wav.samples, 160, 10) == k->text;
  });
}

TEST_F(SttRealEngine, NonFiniteSamplesDoNotFreezeTheResult) {
  expectChildSucceeds([] {
    auto k = knownAudioAt(16000);
    if (!k || k->wav.samples.size() < 200) return false;
    std::vector<float> samples = k->wav.samples;
    samples[50] = std::numeric_limits<float>::quiet_NaN();
    samples[100] = std::numeric_limits<float>::infinity();
    samples[150] = -std::numeric_limits<float>::infinity();
    SherpaSTTNode node;
    return setRate(node, 16000) && feed(node, samples, 160, 10) == k->text;
  });
}

TEST_F(SttRealEngine, EmptyRandomOrTruncatedGraphsAreRefusedInsteadOfCrashingTheDecoder) {
  const std::string good = readText(defaultSTTGraphPath());
  ASSERT_GT(good.size(), 8u);
  const std::pair<const char*, std::string> graphs[] = {
      {"empty", ""}, {"random", randomBytes(good.size(), 7)}, {"truncated", good.substr(0, good.size() / 2)}};
  for (const auto& [name, bytes] : graphs) {
    SCOPED_TRACE(name);
    TempDir dir;
    const std::string graph = (dir.path() / "HLG.fst").string();
    writeText(graph, bytes);
    expectChildSucceeds([&] { return loadIsRefusedAndTheModelKept(defaultSTTModelPath(), defaultSTTTokensPath(), graph); });
  }
}

TEST_F(SttRealEngine, EmptyOrBlanklessTokenTablesAreRefusedInsteadOfEndingTheProcess) {
  std::string blankless;
  {
    std::ifstream in(defaultSTTTokensPath());
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("<blk>", 0) != 0) blankless += line + "\n";
    }
  }
  ASSERT_FALSE(blankless.empty());
  const std::pair<const char*, std::string> tables[] = {{"empty", ""}, {"without <blk>", blankless}};
  for (const auto& [name, text] : tables) {
    SCOPED_TRACE(name);
    TempDir dir;
    const std::string tokens = (dir.path() / "tokens.txt").string();
    writeText(tokens, text);
    expectChildSucceeds([&] { return loadIsRefusedAndTheModelKept(defaultSTTModelPath(), tokens, defaultSTTGraphPath()); });
  }
}

TEST_F(SttRealEngine, ACorruptModelFileIsRefused) {
  TempDir dir;
  const std::string model = (dir.path() / "corrupt.ort").string();
  writeText(model, randomBytes(4096, 11));
  expectChildSucceeds([&] { return loadIsRefusedAndTheModelKept(model, defaultSTTTokensPath(), defaultSTTGraphPath()); });
}
