// Bad input on the real engine with the generated models: broken voice and
// recognizer files, another voice's token table, a data directory that is a
// file, awkward texts and extreme samples. After each, the same node still
// does its good work: it speaks "Hello world." to its "finished", or decodes
// the known test audio. Cases where the engine might end the process run in
// a child process, so that a regression fails its test and not the suite.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include <quorvel/Logger.h>

#include "ChildProcess.h"
#include "RealRecognizer.h"
#include "RealVoice.h"
#include "models/ModelPaths.h"
#include "stt/SherpaSTTNode.h"
#include "stt/SttFeeding.h"
#include "stt/SttTestFiles.h"
#include "support/TempDir.h"
#include "support/LogCapture.h"
#include "tts/SherpaTTSNode.h"

using namespace quorvel;
using namespace quorvel::extensions::sherpa;
namespace fs = std::filesystem;

namespace {

using child_process::check;
using child_process::expectChildSucceeds;
using real_voice::speaks;
using stt_test::readText;
using stt_test::writeText;
using test_kit::EventRecorder;
using real_voice::StereoBlock;

bool reloadGoodVoice(SherpaTTSNode& node) {
  return node.loadModel(real_voice::onnxModel(), real_voice::tokens(), real_voice::dataDir());
}

class BadInputRealVoice : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!real_voice::voicePresent())
      GTEST_SKIP() << "the demonstration voice is not beside the test program (run scripts/models/generate.sh)";
  }
  fs::path voiceFile(const char* name) const { return real_voice::voiceDir() / name; }
  testing_support::LogCapture logs{LogLevel::Warning};
  test_kit::TempDir dir;
};

struct VoiceFiles {
  const char* what;
  std::string model;
  std::string tokens;
  std::string dataDir;
  // Refused by the file checks before the engine: the loaded voice stays.
  bool refusedBeforeTeardown;
};

}  // namespace

// ACorruptModelFailsCleanly (tts_real_engine_test) covers a random model.
TEST_F(BadInputRealVoice, BrokenVoiceFilesFailTheLoadAndTheNodeSpeaksAgainAfterAGoodOne) {
  const std::string onnx = readText(real_voice::onnxModel());
  const std::string ort = readText(defaultTTSModelPath("en"));
  ASSERT_GT(onnx.size(), 1000u);
  writeText(dir.path() / "empty.onnx", "");
  writeText(dir.path() / "truncated.onnx", onnx.substr(0, onnx.size() / 2));
  writeText(dir.path() / "truncated.ort", ort.substr(0, ort.size() / 2));
  fs::create_directories(dir.path() / "directory.onnx");
  writeText(dir.path() / "a-file", "not a directory");
  const std::string model = real_voice::onnxModel(), tokens = real_voice::tokens(), data = real_voice::dataDir();
  const VoiceFiles cases[] = {
      {"missing model", (dir.path() / "missing.onnx").string(), tokens, data, false},
      {"empty model", (dir.path() / "empty.onnx").string(), tokens, data, true},
      {"truncated .onnx", (dir.path() / "truncated.onnx").string(), tokens, data, true},
      {"truncated .ort", (dir.path() / "truncated.ort").string(), tokens, data, true},
      {"model path is a directory", (dir.path() / "directory.onnx").string(), tokens, data, true},
      {"missing tokens", model, (dir.path() / "missing.txt").string(), data, false},
      {"missing data directory", model, tokens, (dir.path() / "missing-dir").string(), false},
      {"data directory is a file", model, tokens, (dir.path() / "a-file").string(), true},
  };
  SherpaTTSNode node{QVAnyMap()};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    logs.clear();
    EXPECT_FALSE(node.loadModel(c.model, c.tokens, c.dataDir));
    EXPECT_TRUE(logs.contains("[SherpaTTSNode] Failed to create Sherpa Offline TTS."));
    if (c.refusedBeforeTeardown) {
      // A wrong path leaves the working voice speaking.
      EXPECT_FALSE(logs.contains("[SherpaTTSNode] Cleaning up resources..."));
      EXPECT_TRUE(speaks(node));
      continue;
    }
    node.synthesize("Nothing.");
    EXPECT_TRUE(logs.contains("[SherpaTTSNode] synthesize is called but TTS instance is not initialized."));
    StereoBlock block;
    EXPECT_TRUE(node.produce(block.bus()));
    EXPECT_EQ(*std::max_element(block.channel(0), block.channel(0) + 480), 0.0f);
    ASSERT_TRUE(reloadGoodVoice(node));
    EXPECT_TRUE(speaks(node));
  }
}

// The German voice's table equals the English one here (the generated voices
// share their phoneme set), so another voice's table is made up: the same
// symbols at other ids, and ids beyond the model's table. Tables the engine
// would end the process on (the recognizer's, whose "<blk>" is several code
// points) are refused first: model_file_guard_real_test.
TEST_F(BadInputRealVoice, AnotherVoicesTokenTable) {
  const fs::path german =
      executableDirectory() / "files" / "de_DE" / "vits-piper-de_DE-oakvale-low" / "tokens.txt";
  if (fs::exists(german)) {
    EXPECT_EQ(readText(german), readText(real_voice::tokens()));
  }

  // "SYMBOL ID" lines with the id mapped; a lone id is the space symbol.
  auto remapped = [&](const char* name, int (*map)(int)) {
    std::istringstream in(readText(real_voice::tokens()));
    std::string out;
    for (std::string line; std::getline(in, line);) {
      const size_t space = line.rfind(' ');
      out += line.substr(0, space + 1) + std::to_string(map(std::stoi(line.substr(space + 1)))) + "\n";
    }
    writeText(dir.path() / name, out);
    return (dir.path() / name).string();
  };
  const std::string reversed = remapped("reversed.txt", [](int id) { return 252 - id; });
  const std::string beyond = remapped("beyond.txt", [](int id) { return id + 1000; });

  // Same symbols at other ids: the voice speaks, wrongly but audibly.
  {
    SherpaTTSNode node{QVAnyMap()};
    ASSERT_TRUE(node.loadModel(real_voice::onnxModel(), reversed, real_voice::dataDir()));
    EXPECT_TRUE(speaks(node, "Hello world, this is a longer sentence."));
  }
  // Ids beyond the model's table: the load works, every generation throws
  // inside the engine, which the node logs. (A table without "_" is refused
  // at the load: model_file_guard_real_test.)
  for (const std::string& table : {beyond}) {
    SCOPED_TRACE(table);
    expectChildSucceeds([&] {
      testing_support::LogCapture childLogs{LogLevel::Warning};
      SherpaTTSNode node{QVAnyMap()};
      if (!check(node.loadModel(real_voice::onnxModel(), table, real_voice::dataDir()), "load")) return false;
      EventRecorder events(node);
      node.synthesize("Hello world.");
      StereoBlock block;
      for (int i = 0; i < 50; ++i) node.produce(block.bus());
      bool ok = check(!childLogs.linesStartingWith("[SherpaTTSNode] Engine error while synthesizing: ").empty(),
                      "engine error logged");
      ok = check(events.names() == std::vector<std::string>{"synthesisStarted"}, "no finished") && ok;
      return check(reloadGoodVoice(node) && speaks(node), "speaks after a good reload") && ok;
    });
  }
}

TEST_F(BadInputRealVoice, AwkwardTextsGiveAtMostOneFinishedAndTheNextTextIsSpoken) {
  const std::pair<const char*, std::string> texts[] = {
      {"empty", ""},
      {"asterisks only", "*****"},
      {"spaces and punctuation only", "  ... ,;!? "},
      {"invalid UTF-8", "\xff\xfe \xc3\x28 \xed\xa0\x80 \xf8\x88\x80\x80\x80 Hello \x80"},
      {"ten kilobytes", [] {
         std::string s;
         while (s.size() < 10000) s += "This sentence is said again and again. ";
         return s;
       }()},
  };
  SherpaTTSNode node{QVAnyMap()};
  AudioBusFormat format{48000, 2};
  ASSERT_TRUE(node.setBusFormat(format));
  for (const auto& [what, text] : texts) {
    SCOPED_TRACE(what);
    EventRecorder events(node);
    node.synthesize(text);
    StereoBlock block;
    bool finite = true;
    for (int i = 0; i < 200; ++i) {
      ASSERT_TRUE(node.produce(block.bus()));
      finite = finite && block.finiteAndAlike() && block.peak() <= 1.0f;
    }
    EXPECT_TRUE(finite);
    EXPECT_LE(events.count("finished"), 1);
    EXPECT_TRUE(speaks(node));
  }
}

// ---- The recognizer ------------------------------------------------------------

namespace {

using real_recognizer::knownAudioAt;

class BadInputRealRecognizer : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!real_recognizer::recognizerPresent()) GTEST_SKIP() << "generated recognizer or test audio missing (run scripts/models/generate.sh)";
    previous = Logger::getLevel();
    Logger::setLevel(LogLevel::Warning);
  }
  void TearDown() override { Logger::setLevel(previous); }
  LogLevel previous = LogLevel::Info;
  test_kit::TempDir dir;
};

struct RecognizerFiles {
  const char* what;
  std::string model;
  std::string tokens;
  std::string graph;
  // Refused by the checks before the engine: the loaded model stays.
  bool refusedBeforeTheEngine;
};

}  // namespace

// SttRealEngine covers a random model, broken graphs and token tables
// without "<blk>"; here the other broken files, each followed by a good load
// that decodes the audio buffered while no model was loaded.
TEST_F(BadInputRealRecognizer, BrokenFilesFailTheLoadAndTheBufferedAudioStillDecodes) {
  const std::string model = readText(defaultSTTModelPath());
  ASSERT_GT(model.size(), 1000u);
  writeText(dir.path() / "empty.ort", "");
  writeText(dir.path() / "truncated.ort", model.substr(0, model.size() / 2));
  writeText(dir.path() / "model.onnx", model);  // ORT content under an ONNX name
  fs::create_directories(dir.path() / "directory.ort");
  fs::create_directories(dir.path() / "HLG.fst");
  const std::string m = defaultSTTModelPath(), t = defaultSTTTokensPath(), g = defaultSTTGraphPath();
  const RecognizerFiles cases[] = {
      {"missing model", (dir.path() / "missing.ort").string(), t, g, false},
      {"empty model", (dir.path() / "empty.ort").string(), t, g, true},
      {"truncated model", (dir.path() / "truncated.ort").string(), t, g, true},
      {"ORT model named .onnx", (dir.path() / "model.onnx").string(), t, g, true},
      {"model path is a directory", (dir.path() / "directory.ort").string(), t, g, true},
      {"missing tokens", m, (dir.path() / "missing.txt").string(), g, false},
      {"the voice's tokens", m, real_voice::tokens(), g, true},
      {"missing graph", m, t, (dir.path() / "missing.fst").string(), false},
      {"graph path is a directory", m, t, (dir.path() / "HLG.fst").string(), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    expectChildSucceeds([&] {
      auto k = knownAudioAt(16000);
      if (!check(k.has_value(), "known audio")) return false;
      testing_support::LogCapture childLogs{LogLevel::Error};
      SherpaSTTNode node;  // loads the good model beside the program
      AudioBusFormat format{16000, 1};
      bool ok = check(node.setBusFormat(format), "format");
      ok = check(!node.loadSherpaModel(c.model, c.tokens, c.graph), "the load fails") && ok;
      ok = check(!childLogs.lines().empty(), "an error line") && ok;
      ok = check(stt_test::consumeInBlocks(node, k->wav.samples), "audio taken") && ok;
      if (!c.refusedBeforeTheEngine) {
        // The engine was asked and failed: the old model was released first.
        ok = check(node.processAudio().empty(), "nothing decoded") && ok;
        ok = check(node.loadSherpaModel(m, t, g), "good load") && ok;
      }
      const std::string text = node.processAudio();
      return check(text == k->text, "buffered audio decodes to '" + k->text + "', got '" + text + "'") && ok;
    });
  }
}

// NaN and infinities: SttRealEngine.NonFiniteSamplesDoNotFreezeTheResult.
// Finite samples far outside [-1, 1] overflow the features instead.
TEST_F(BadInputRealRecognizer, HugeFiniteSamplesDoNotFreezeTheResult) {
  expectChildSucceeds([] {
    auto k = knownAudioAt(16000);
    if (!check(k.has_value(), "known audio")) return false;
    SherpaSTTNode node;
    AudioBusFormat format{16000, 1};
    if (!node.setBusFormat(format)) return false;
    std::vector<float> wild(1600);
    for (size_t i = 0; i < wild.size(); ++i) {
      wild[i] = (i % 2 == 0 ? 1.0f : -1.0f) * (i % 3 == 0 ? std::numeric_limits<float>::max() : 1e20f);
    }
    if (!stt_test::consumeInBlocks(node, wild)) return false;
    node.processAudio();
    if (!stt_test::consumeInBlocks(node, k->wav.samples)) return false;
    const std::string text = node.processAudio();
    return check(text.find(k->text) != std::string::npos, "'" + k->text + "' decoded after wild samples, got '" + text + "'");
  });
}

// The clamp lies far beyond any sensible scale: audio scaled like 16-bit
// integers decodes as it did before the clamp existed.
TEST_F(BadInputRealRecognizer, AudioScaledLikeSixteenBitIntegersStillDecodes) {
  auto k = knownAudioAt(16000);
  ASSERT_TRUE(k.has_value());
  std::vector<float> scaled = k->wav.samples;
  for (float& v : scaled) v *= 32767.0f;
  testing_support::LogCapture logs{LogLevel::Warning};
  SherpaSTTNode node;
  AudioBusFormat format{16000, 1};
  ASSERT_TRUE(node.setBusFormat(format));
  ASSERT_TRUE(stt_test::consumeInBlocks(node, scaled));
  EXPECT_EQ(node.processAudio(), k->text);
  EXPECT_TRUE(logs.linesStartingWith("[SherpaSTTNode] Clamped").empty());
}
