// Construction, loading, reloading and destruction of the recognition node,
// against the engine double.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "SttTestFiles.h"
#include "fake_engine/FakeEngine.h"
#include "models/ModelPaths.h"
#include "stt/SherpaSTTNode.h"
#include "stt/STTInternals.h"
#include "support/LogCapture.h"
#include "support/TestBlock.h"

using namespace quorvel;
using namespace quorvel::extensions::sherpa;
using testing_support::LogCapture;
using Lines = std::vector<std::string>;

namespace {

const std::string P = "[SherpaSTTNode] ";

Lines successfulLoadLines(const std::string& model) {
  return {P + "loadSherpaModel called with path: " + model, P + "Loading STT model from: " + model,
          P + "Calling SherpaOnnxCreateOnlineRecognizer...", P + "Calling SherpaOnnxCreateOnlineStream...",
          P + "STT model loaded successfully"};
}

const Lines kDestroyLoaded = {P + "Destructor called",     P + "Destructor called - starting cleanup",
                              P + "Cleaning up resources...", P + "Freeing stream",
                              P + "Freeing recognizer",     P + "Cleanup completed",
                              P + "Destructor completed"};
const Lines kDestroyEmpty = {P + "Destructor called", P + "Destructor called - starting cleanup",
                             P + "Cleaning up resources...", P + "Cleanup completed", P + "Destructor completed"};

class SttNodeLifecycle : public ::testing::Test {
 protected:
  void SetUp() override { fake_engine::reset(); }
  void TearDown() override { fake_engine::reset(); }
  stt_test::TempDir dir;
};

}  // namespace

TEST_F(SttNodeLifecycle, ConstructionWithoutModelFilesWarnsOnceAndLoadsNothing) {
  if (stt_test::ranInCopyWithoutModelFiles(dir.path())) return;
  stt_test::WorkingDirectory cwd(dir.path());
  LogCapture log;
  auto node = std::make_unique<SherpaSTTNode>();
  EXPECT_EQ(log.entries(), (std::vector<std::pair<LogLevel, std::string>>{
                               {LogLevel::Warning, P + "Model file has not been loaded."}}));
  EXPECT_EQ(node->getTypeName(), "SherpaSTTNode");
  EXPECT_EQ(fake_engine::calls().createRecognizer.load(), 0);
  log.clear();
  node.reset();
  EXPECT_EQ(log.lines(), kDestroyEmpty);
}

TEST_F(SttNodeLifecycle, ConstructionWithModelButNoGraphWarnsAndStillLoads) {
  if (stt_test::ranInCopyWithoutModelFiles(dir.path())) return;
  stt_test::WorkingDirectory cwd(dir.path());
  const std::string model = (dir.path() / "Models" / stt_test::kModelFile).string();
  stt_test::writeTinyModel(model);
  stt_test::writeText(dir.path() / "files" / "tokens.txt", stt_test::kTinyTokens);
  const std::string graph = (dir.path() / "files" / "HLG.fst").string();
  LogCapture log;
  SherpaSTTNode node;
  Lines expected = successfulLoadLines(model);
  expected.insert(expected.begin() + 1, P + "Graph file does not exist at path: " + graph);
  EXPECT_EQ(log.lines(), expected);
  EXPECT_EQ(log.entries().at(1).first, LogLevel::Warning);
  EXPECT_EQ(fake_engine::calls().createRecognizer.load(), 1);
}

TEST_F(SttNodeLifecycle, ConstructionWithAllFilesLoadsThemAndDestructionFreesStreamThenRecognizer) {
  // The fallback layout under the working directory; the primary place
  // beside the executable wins wherever it has a file.
  stt_test::WorkingDirectory cwd(dir.path());
  stt_test::writeTinyModel(dir.path() / "Models" / stt_test::kModelFile);
  stt_test::writeText(dir.path() / "files" / "tokens.txt", stt_test::kTinyTokens);
  stt_test::writeBytes(dir.path() / "files" / "HLG.fst", stt_test::tinyVectorGraph());
  const std::string model = resolveSTTModelPath();
  const std::string tokens = resolveSTTTokensPath();
  const std::string graph = resolveSTTGraphPath();
  LogCapture log;
  auto node = std::make_unique<SherpaSTTNode>(QVAnyMap{{"ignored", QVAny(true)}});
  EXPECT_EQ(log.lines(), successfulLoadLines(model));
  for (const auto& [level, line] : log.entries()) EXPECT_EQ(level, LogLevel::Info) << line;
  const fake_engine::RecognizerPaths paths = fake_engine::lastRecognizerPaths();
  EXPECT_EQ(paths.model, model);
  EXPECT_EQ(paths.tokens, tokens);
  EXPECT_EQ(paths.graph, graph);
  log.clear();
  node.reset();
  EXPECT_EQ(log.lines(), kDestroyLoaded);
  EXPECT_EQ(fake_engine::calls().destroyStream.load(), 1);
  EXPECT_EQ(fake_engine::calls().destroyRecognizer.load(), 1);
}

TEST_F(SttNodeLifecycle, ConstructionWhoseLoadFailsReportsItAndLeavesNoModel) {
  stt_test::WorkingDirectory cwd(dir.path());
  stt_test::writeTinyModel(dir.path() / "Models" / stt_test::kModelFile);
  stt_test::writeText(dir.path() / "files" / "tokens.txt", stt_test::kTinyTokens);
  stt_test::writeBytes(dir.path() / "files" / "HLG.fst", stt_test::tinyVectorGraph());
  fake_engine::knobs().createRecognizerFails = true;
  LogCapture log;
  auto node = std::make_unique<SherpaSTTNode>();
  const Lines lines = log.lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(Lines(lines.end() - 3, lines.end()),
            (Lines{P + "Sherpa failed to create recognizer", P + "Check that the model files exist and are valid",
                   P + "Failed to load Sherpa model."}));
  EXPECT_EQ(log.entries().back().first, LogLevel::Error);
  log.clear();
  node.reset();
  EXPECT_EQ(log.lines(), kDestroyEmpty);
}

TEST_F(SttNodeLifecycle, FirstLoadDoesNotCleanUpAndAReloadFreesTheOldModelFirst) {
  const auto files = stt_test::writeRecognizerFiles(dir.path());
  fake_engine::knobs().createRecognizerFails = true;  // the constructor's own load, if any, fails
  SherpaSTTNode node;
  fake_engine::knobs().createRecognizerFails = false;
  LogCapture log;
  ASSERT_TRUE(node.loadSherpaModel(files.model, files.tokens, files.graph));
  EXPECT_EQ(log.lines(), successfulLoadLines(files.model));
  log.clear();
  ASSERT_TRUE(node.loadSherpaModel(files.model, files.tokens, files.graph));
  Lines expected = successfulLoadLines(files.model);
  expected.insert(expected.begin() + 1,
                  {P + "Model already loaded, cleaning up before reloading", P + "Cleaning up resources...",
                   P + "Freeing stream", P + "Freeing recognizer", P + "Cleanup completed"});
  EXPECT_EQ(log.lines(), expected);
}

TEST_F(SttNodeLifecycle, FailedReloadLeavesNoModelAndCleanupThenLogsOnlyItsFrame) {
  const auto files = stt_test::writeRecognizerFiles(dir.path());
  SherpaSTTNode::Internals internals(1000);
  ASSERT_TRUE(internals.loadSherpaModel(files.model, files.tokens, files.graph));
  fake_engine::knobs().createRecognizerFails = true;
  EXPECT_FALSE(internals.loadSherpaModel(files.model, files.tokens, files.graph));
  EXPECT_EQ(internals.recognizer, nullptr);
  EXPECT_EQ(internals.stream, nullptr);
  LogCapture log;
  internals.cleanup();
  EXPECT_EQ(log.lines(), (Lines{P + "Cleaning up resources...", P + "Cleanup completed"}));
}

TEST_F(SttNodeLifecycle, FailedStreamCreationDestroysTheNewRecognizer) {
  const auto files = stt_test::writeRecognizerFiles(dir.path());
  for (bool throws : {false, true}) {
    SCOPED_TRACE(throws ? "create stream throws" : "create stream returns null");
    fake_engine::reset();
    SherpaSTTNode::Internals internals(1000);
    internals.cleanup();
    fake_engine::knobs().createStreamFails = !throws;
    fake_engine::knobs().createStreamThrows = throws;
    const int destroyedBefore = fake_engine::calls().destroyRecognizer.load();
    LogCapture log;
    EXPECT_FALSE(internals.loadSherpaModel(files.model, files.tokens, files.graph));
    EXPECT_TRUE(log.contains(P + "Failed to create online stream"));
    EXPECT_FALSE(log.contains(P + "STT model loaded successfully"));
    EXPECT_EQ(fake_engine::calls().destroyRecognizer.load(), destroyedBefore + 1);
    EXPECT_EQ(internals.recognizer, nullptr);
    EXPECT_EQ(internals.stream, nullptr);
  }
}

TEST_F(SttNodeLifecycle, RecognizerCreationThatThrowsIsAFailedLoad) {
  const auto files = stt_test::writeRecognizerFiles(dir.path());
  SherpaSTTNode::Internals internals(1000);
  internals.cleanup();
  fake_engine::knobs().createRecognizerThrows = true;
  LogCapture log;
  EXPECT_FALSE(internals.loadSherpaModel(files.model, files.tokens, files.graph));
  const Lines lines = log.lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(log.linesStartingWith(P + "Engine error while creating the recognizer: ").size(), 1u);
  EXPECT_EQ(Lines(lines.end() - 2, lines.end()),
            (Lines{P + "Sherpa failed to create recognizer", P + "Check that the model files exist and are valid"}));
  EXPECT_EQ(internals.recognizer, nullptr);
}

TEST_F(SttNodeLifecycle, MissingFilesWarnOneByOneAndTheLoadIsStillAttempted) {
  SherpaSTTNode::Internals internals(1000);
  internals.cleanup();
  const std::string model = (dir.path() / "no-model.ort").string();
  const std::string tokens = (dir.path() / "no-tokens.txt").string();
  const std::string graph = (dir.path() / "no-HLG.fst").string();
  fake_engine::knobs().createRecognizerFails = true;  // as the engine does for missing files
  const int createdBefore = fake_engine::calls().createRecognizer.load();
  LogCapture log;
  EXPECT_FALSE(internals.loadSherpaModel(model, tokens, graph));
  EXPECT_EQ(log.lines(), (Lines{P + "loadSherpaModel called with path: " + model,
                                P + "Model file does not exist at path: " + model,
                                P + "Tokens file does not exist at path: " + tokens,
                                P + "Graph file does not exist at path: " + graph,
                                P + "Loading STT model from: " + model,
                                P + "Calling SherpaOnnxCreateOnlineRecognizer...",
                                P + "Sherpa failed to create recognizer",
                                P + "Check that the model files exist and are valid"}));
  const auto entries = log.entries();
  for (int i : {1, 2, 3}) EXPECT_EQ(entries.at(i).first, LogLevel::Warning);
  for (int i : {6, 7}) EXPECT_EQ(entries.at(i).first, LogLevel::Error);
  EXPECT_EQ(fake_engine::calls().createRecognizer.load(), createdBefore + 1);
}

TEST_F(SttNodeLifecycle, ConfigurationRecordHoldsTheFixedValuesAndThePaths) {
  const auto files = stt_test::writeRecognizerFiles(dir.path());
  SherpaSTTNode::Internals internals(1000);
  ASSERT_TRUE(internals.loadSherpaModel(files.model, files.tokens, files.graph));
  const SherpaOnnxOnlineRecognizerConfig c = fake_engine::lastRecognizerConfig();
  EXPECT_EQ(c.feat_config.sample_rate, 0);
  EXPECT_EQ(c.feat_config.feature_dim, 80);
  EXPECT_STREQ(c.model_config.zipformer2_ctc.model, files.model.c_str());
  EXPECT_STREQ(c.model_config.tokens, files.tokens.c_str());
  EXPECT_EQ(c.model_config.num_threads, 4);
  EXPECT_STREQ(c.model_config.provider, "cpu");
  EXPECT_EQ(c.model_config.debug, 0);
  EXPECT_STREQ(c.ctc_fst_decoder_config.graph, files.graph.c_str());
  EXPECT_EQ(c.ctc_fst_decoder_config.max_active, 0);
  EXPECT_EQ(c.decoding_method, nullptr);
  EXPECT_EQ(c.max_active_paths, 0);
  EXPECT_EQ(c.enable_endpoint, 0);
  EXPECT_EQ(c.rule1_min_trailing_silence, 0.0f);
  EXPECT_EQ(c.rule2_min_trailing_silence, 0.0f);
  EXPECT_EQ(c.rule3_min_utterance_length, 0.0f);
  EXPECT_EQ(c.model_config.transducer.encoder, nullptr);
  EXPECT_EQ(c.model_config.paraformer.encoder, nullptr);
  EXPECT_EQ(c.hotwords_file, nullptr);
}

TEST_F(SttNodeLifecycle, AnInvalidGraphOrTokenTableFailsTheLoadWithoutCallingTheEngine) {
  const auto files = stt_test::writeRecognizerFiles(dir.path());
  const std::string badGraph = (dir.path() / "bad" / "HLG.fst").string();
  const std::string badTokens = (dir.path() / "bad" / "tokens.txt").string();
  stt_test::writeText(badGraph, "");
  stt_test::writeText(badTokens, "a 1\nb 2\n");
  SherpaSTTNode::Internals internals(1000);
  internals.cleanup();
  const Lines failure = {P + "Sherpa failed to create recognizer", P + "Check that the model files exist and are valid"};
  struct Case {
    std::string tokens, graph;
    Lines errors;
  };
  const Case cases[] = {
      {files.tokens, badGraph, {P + "Invalid decoding graph: " + badGraph}},
      {badTokens, files.graph, {P + "Invalid tokens file: " + badTokens}},
      {badTokens, badGraph, {P + "Invalid decoding graph: " + badGraph, P + "Invalid tokens file: " + badTokens}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.errors.back());
    const int createdBefore = fake_engine::calls().createRecognizer.load();
    LogCapture log;
    EXPECT_FALSE(internals.loadSherpaModel(files.model, c.tokens, c.graph));
    Lines expected = {P + "loadSherpaModel called with path: " + files.model};
    expected.insert(expected.end(), c.errors.begin(), c.errors.end());
    expected.insert(expected.end(), failure.begin(), failure.end());
    EXPECT_EQ(log.lines(), expected);
    EXPECT_EQ(fake_engine::calls().createRecognizer.load(), createdBefore);
    EXPECT_EQ(internals.recognizer, nullptr);
  }
}

TEST_F(SttNodeLifecycle, AReloadWithRefusedFilesKeepsTheLoadedRecognizerDecoding) {
  const auto files = stt_test::writeRecognizerFiles(dir.path());
  const std::string badGraph = (dir.path() / "bad" / "HLG.fst").string();
  stt_test::writeText(badGraph, "not a graph");
  SherpaSTTNode::Internals internals(16000);
  ASSERT_TRUE(internals.loadSherpaModel(files.model, files.tokens, files.graph));
  const auto* recognizer = internals.recognizer;
  const auto* stream = internals.stream;
  const int destroyedBefore = fake_engine::calls().destroyRecognizer.load();
  const int createdBefore = fake_engine::calls().createRecognizer.load();
  LogCapture log;
  EXPECT_FALSE(internals.loadSherpaModel(files.model, files.tokens, badGraph));
  EXPECT_EQ(log.lines(), (Lines{P + "loadSherpaModel called with path: " + files.model,
                                P + "Invalid decoding graph: " + badGraph, P + "Sherpa failed to create recognizer",
                                P + "Check that the model files exist and are valid"}));
  EXPECT_EQ(internals.recognizer, recognizer);
  EXPECT_EQ(internals.stream, stream);
  EXPECT_EQ(fake_engine::calls().destroyRecognizer.load(), destroyedBefore);
  EXPECT_EQ(fake_engine::calls().createRecognizer.load(), createdBefore);
  // The kept model still decodes.
  test_kit::TestBlock block(1, 1600, 16000, 0.1f);
  ASSERT_TRUE(internals.consume(block.bus()));
  EXPECT_EQ(internals.processAudio(), "hello world");
}
