// An engine of another build than the declarations describe: both nodes
// refuse to hand it their configuration records, and each says so in an
// error line of its own class.
#include <gtest/gtest.h>

#include <string>

#include <quorvel/Logger.h>

#include "fake_engine/FakeEngine.h"
#include "models/ModelPaths.h"
#include "stt/SherpaSTTNode.h"
#include "stt/SttTestFiles.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "tts/SherpaTTSNode.h"

using namespace quorvel;
using namespace quorvel::extensions::sherpa;
using testing_support::LogCapture;

namespace {

const std::string kRefusal = "Engine version 1.12.0 found, 1.13.4 required; no model will be loaded";

class WrongEngineBuild : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_engine::reset();
    fake_engine::knobs().version = "1.12.0";
  }
  void TearDown() override { fake_engine::reset(); }

  // Every line of the log begins with the class name of `node` in brackets.
  static void expectOnlyLinesOf(const LogCapture& log, const std::string& node) {
    for (const std::string& line : log.lines()) EXPECT_EQ(line.rfind("[" + node + "] ", 0), 0u) << line;
  }
  static void expectRefusedOnceAtErrorLevel(const LogCapture& log, const std::string& node) {
    const std::string line = "[" + node + "] " + kRefusal;
    EXPECT_EQ(log.count(line), 1u);
    for (const auto& [level, text] : log.entries()) {
      if (text == line) {
        EXPECT_EQ(level, LogLevel::Error);
      }
    }
  }
};

}  // namespace

TEST_F(WrongEngineBuild, TheSpeechNodeRefusesItsVoiceUnderItsOwnName) {
  LogCapture log;
  SherpaTTSNode node{QVAnyMap()};
  expectRefusedOnceAtErrorLevel(log, "SherpaTTSNode");
  EXPECT_TRUE(log.contains("[SherpaTTSNode] Failed to load Sherpa model."));
  expectOnlyLinesOf(log, "SherpaTTSNode");

  log.clear();
  EXPECT_FALSE(node.loadModel(defaultTTSModelPath("en"), defaultTTSTokensPath("en"), defaultTTSDataDirPath("en")));
  expectRefusedOnceAtErrorLevel(log, "SherpaTTSNode");  // every refused load says why
  expectOnlyLinesOf(log, "SherpaTTSNode");
  EXPECT_EQ(fake_engine::calls().createTts.load(), 0);
}

TEST_F(WrongEngineBuild, TheRecognitionNodeRefusesItsModelUnderItsOwnName) {
  test_kit::TempDir dir;
  const auto files = stt_test::writeRecognizerFiles(dir.path());
  SherpaSTTNode node;
  LogCapture log;
  EXPECT_FALSE(node.loadSherpaModel(files.model, files.tokens, files.graph));
  expectRefusedOnceAtErrorLevel(log, "SherpaSTTNode");
  expectOnlyLinesOf(log, "SherpaSTTNode");
  EXPECT_EQ(fake_engine::calls().createRecognizer.load(), 0);
}
