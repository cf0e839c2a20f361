// The level of every line each node writes over its life, not only the text:
// lifecycle steps at info, call traces at debug, files missing at a load and
// dropped input at warning, failed loads and refusals at error. Each test
// follows one node from construction to destruction against the engine
// double, and compares the whole log.
#include <gtest/gtest.h>

#include <cstdint>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include <quorvel/Logger.h>

#include "fake_engine/FakeEngine.h"
#include "models/ModelPaths.h"
#include "stt/SherpaSTTNode.h"
#include "stt/SttTestFiles.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "support/TestBlock.h"
#include "tts/SherpaTTSNode.h"

using namespace quorvel;
using namespace quorvel::extensions::sherpa;
using testing_support::LogCapture;
using Entries = std::vector<std::pair<LogLevel, std::string>>;

namespace {

constexpr auto D = LogLevel::Debug;
constexpr auto I = LogLevel::Info;
constexpr auto W = LogLevel::Warning;
constexpr auto E = LogLevel::Error;

const std::string T = "[SherpaTTSNode] ";
const std::string S = "[SherpaSTTNode] ";

// The latency line carries the clock; everything else is compared as is.
Entries withoutTimestamps(Entries entries) {
  static const std::regex timestamp("timestamp=[0-9]+");
  for (auto& [level, line] : entries) line = std::regex_replace(line, timestamp, "timestamp=T");
  return entries;
}

std::string addressOf(const void* object) { return std::to_string(reinterpret_cast<uintptr_t>(object)); }

Entries operator+(Entries first, const Entries& then) {
  first.insert(first.end(), then.begin(), then.end());
  return first;
}

// The speech node's construction up to the engine call, with the default voice.
Entries voiceConstruction(const std::string& model) {
  return {{D, T + "Attempting to load TTS model for language: en"},
          {D, T + "Model path: " + model},
          {D, T + "Tokens path: " + defaultTTSTokensPath("en")},
          {D, T + "Data dir path: " + defaultTTSDataDirPath("en")},
          {D, T + "Model file exists, attempting to load..."},
          {I, T + "loadModel called with path: " + model},
          {I, T + "Loading TTS model from: " + model},
          {I, T + "Calling SherpaOnnxCreateOfflineTts..."}};
}

// A reload of the recognizer up to the engine call; `warnings` follow the first line.
Entries recognizerReload(const std::string& model, const Entries& warnings = {}) {
  return Entries{{I, S + "loadSherpaModel called with path: " + model}} + warnings +
         Entries{{I, S + "Model already loaded, cleaning up before reloading"},
                 {I, S + "Cleaning up resources..."},
                 {I, S + "Freeing stream"},
                 {I, S + "Freeing recognizer"},
                 {I, S + "Cleanup completed"},
                 {I, S + "Loading STT model from: " + model},
                 {I, S + "Calling SherpaOnnxCreateOnlineRecognizer..."}};
}
const Entries kRecognizerLoaded = {{I, S + "Calling SherpaOnnxCreateOnlineStream..."},
                                   {I, S + "STT model loaded successfully"}};

class LogLevels : public ::testing::Test {
 protected:
  void SetUp() override { fake_engine::reset(); }
  void TearDown() override { fake_engine::reset(); }
};

}  // namespace

TEST_F(LogLevels, SpeechNodeFromConstructionThroughActionsToDestruction) {
  const std::string model = defaultTTSModelPath("en");
  LogCapture log;
  auto node = std::make_unique<SherpaTTSNode>(QVAnyMap{{"voice", QVAny("de")}});
  const std::string self = addressOf(&node->internalsForTesting());
  EXPECT_EQ(log.entries(),
            (voiceConstruction(model) + Entries{{I, T + "TTS model loaded successfully"},
                                               {I, T + "Sherpa model loaded successfully: " + model +
                                                       ", tts=valid, this=" + self},
                                               {E, "Unknown parameter: voice"}}));

  log.clear();
  ASSERT_TRUE(node->callAction("synthesize", QVAnyMap{{"text", QVAny("*Hi*")}}).isOk());
  ASSERT_TRUE(node->callAction("appendStreamingText", QVAnyMap{{"token", QVAny("and")}}).isOk());
  ASSERT_TRUE(node->callAction("clearStreamingBuffer", QVAnyMap()).isOk());
  AudioBusFormat sixChannels{48000, 6};
  EXPECT_FALSE(node->setBusFormat(sixChannels));
  EXPECT_EQ(withoutTimestamps(log.entries()),
            (Entries{{D, T + "Action 'synthesize' called with text: *Hi*"},
                     {D, T + "synthesize called, tts=valid, this=" + self},
                     {I, "[LATENCY][TTS_FIRST_SYNTHESIS] timestamp=T text=\"Hi\""},
                     {D, T + "Action 'appendStreamingText' called with token: and"},
                     {D, T + "Action 'clearStreamingBuffer' called"},
                     {E, T + "Sherpa TTS only supports mono or stereo audio."}}));

  log.clear();
  node.reset();
  EXPECT_EQ(log.entries(), (Entries{{I, T + "Destructor called"},
                                    {I, T + "Destructor called - starting cleanup"},
                                    {I, T + "Cleaning up resources..."},
                                    {I, T + "Clearing atomic pointers"},
                                    {I, T + "Clearing 1 generated audio items"},
                                    {I, T + "Freeing TTS model"},
                                    {I, T + "Cleanup completed"},
                                    {I, T + "Destructor completed"}}));
}

TEST_F(LogLevels, SpeechNodeWhoseVoiceFailsThenReloadsMissingFiles) {
  fake_engine::knobs().createTtsFails = true;
  const std::string model = defaultTTSModelPath("en");
  LogCapture log;
  SherpaTTSNode node{QVAnyMap()};
  const std::string self = addressOf(&node.internalsForTesting());
  const Entries engineRefused = {{E, T + "Failed to create Sherpa Offline TTS."},
                                 {E, T + "Check that the model files exist and are valid"}};
  EXPECT_EQ(log.entries(), (voiceConstruction(model) + engineRefused + Entries{{E, T + "Failed to load Sherpa model."}}));

  log.clear();
  test_kit::TempDir dir;
  const std::string missing = (dir.path() / "missing").string();
  EXPECT_FALSE(node.loadModel(missing + ".onnx", missing + ".txt", missing));
  node.synthesize("Hi");
  EXPECT_EQ(log.entries(), (Entries{{I, T + "loadModel called with path: " + missing + ".onnx"},
                                   {W, T + "Model file does not exist at path: " + missing + ".onnx"},
                                   {W, T + "Tokens file does not exist at path: " + missing + ".txt"},
                                   {W, T + "Data directory does not exist at path: " + missing},
                                   {I, T + "Loading TTS model from: " + missing + ".onnx"},
                                   {I, T + "Calling SherpaOnnxCreateOfflineTts..."}} +
                               engineRefused +
                               Entries{{D, T + "synthesize called, tts=null, this=" + self},
                                       {E, T + "synthesize is called but TTS instance is not initialized."}}));
}

TEST_F(LogLevels, RecognitionNodeFromLoadThroughDroppedInputToDestruction) {
  test_kit::TempDir dir;
  const auto files = stt_test::writeRecognizerFiles(dir.path());
  const std::string missingGraph = (dir.path() / "missing.fst").string();
  auto node = std::make_unique<SherpaSTTNode>();
  LogCapture log;
  ASSERT_TRUE(node->loadSherpaModel(files.model, files.tokens, missingGraph));
  ASSERT_TRUE(node->loadSherpaModel(files.model, files.tokens, files.graph));
  EXPECT_EQ(log.entries(),
            (recognizerReload(files.model, {{W, S + "Graph file does not exist at path: " + missingGraph}}) +
                kRecognizerLoaded + recognizerReload(files.model) + kRecognizerLoaded));

  log.clear();
  AudioBusFormat stereo{16000, 2};
  EXPECT_FALSE(node->setBusFormat(stereo));
  test_kit::TestBlock tenSeconds(1, 480000, 48000);
  EXPECT_TRUE(node->consume(tenSeconds.bus()));
  EXPECT_FALSE(node->consume(tenSeconds.bus()));
  fake_engine::knobs().createRecognizerFails = true;
  EXPECT_FALSE(node->loadSherpaModel(files.model, files.tokens, files.graph));
  EXPECT_EQ(log.entries(), (Entries{{E, S + "Number of channels must be 1."},
                                   {W, S + "Input buffer is full, dropping audio data."}} +
                               recognizerReload(files.model) +
                               Entries{{E, S + "Sherpa failed to create recognizer"},
                                       {E, S + "Check that the model files exist and are valid"}}));

  log.clear();
  node.reset();
  EXPECT_EQ(log.entries(), (Entries{{I, S + "Destructor called"},
                                    {I, S + "Destructor called - starting cleanup"},
                                    {I, S + "Cleaning up resources..."},
                                    {I, S + "Cleanup completed"},
                                    {I, S + "Destructor completed"}}));
}

TEST_F(LogLevels, RecognitionNodeWhoseConstructionLoadFails) {
  test_kit::TempDir dir;
  if (stt_test::modelFilesBesideExecutable()) {
    EXPECT_TRUE(stt_test::runCurrentTestFromCopy(dir.path()));
    return;
  }
  stt_test::WorkingDirectory cwd(dir.path());
  {
    LogCapture log;
    SherpaSTTNode node;
    EXPECT_EQ(log.entries(), (Entries{{W, S + "Model file has not been loaded."}}));
  }
  stt_test::writeTinyModel(dir.path() / "Models" / stt_test::kModelFile);
  stt_test::writeText(dir.path() / "files" / "tokens.txt", stt_test::kTinyTokens);
  stt_test::writeBytes(dir.path() / "files" / "HLG.fst", stt_test::tinyVectorGraph());
  fake_engine::knobs().createRecognizerFails = true;
  LogCapture log;
  SherpaSTTNode node;
  const Entries entries = log.entries();
  ASSERT_GE(entries.size(), 3u);
  EXPECT_EQ(Entries(entries.end() - 3, entries.end()),
            (Entries{{E, S + "Sherpa failed to create recognizer"},
                     {E, S + "Check that the model files exist and are valid"},
                     {E, S + "Failed to load Sherpa model."}}));
}
