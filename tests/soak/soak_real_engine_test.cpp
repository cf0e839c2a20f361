// Half a minute (or QS_SOAK_SECONDS) of random use of one text-to-speech
// node on the real engine with the demonstration voice, with the generated
// recogniser decoding the known test audio alongside.
#include <gtest/gtest.h>

#include <filesystem>

#include <quorvel/Logger.h>

#include "SoakExpectations.h"
#include "support/LogCapture.h"
#include "tts/TTSInternals.h"

using namespace quorvel::extensions::sherpa;

TEST(SoakRealEngine, RandomUseLosesNoSegmentAndKeepsMemoryFlat) {
  if (!std::filesystem::exists(defaultTTSModelPath("en")) || !std::filesystem::exists(defaultSTTModelPath())) {
    GTEST_SKIP() << "the generated models are not beside the test program (run scripts/models/generate.sh)";
  }
  testing_support::LogCapture logs(quorvel::LogLevel::Error);

  SherpaTTSNode node{quorvel::QVAnyMap()};
  ASSERT_NE(node.internalsForTesting().tts, nullptr);
  SherpaSTTNode recognizer;

  soak::Options options;
  options.duration = soak::duration();
  options.voice = soak::defaultVoice();
  options.recognizerAudio = soak::helloWorldAudio();
  options.seed = 23;
  const soak::Report report = soak::run(node, &recognizer, options);
  soak::print("real engine, seed 23", report);

  soak::expectHealthy(report);
  const auto errors = logs.lines();
  EXPECT_TRUE(errors.empty()) << errors.size() << " error lines, first: " << errors.front();
  EXPECT_NE(report.recognizedText.find("HELLO WORLD"), std::string::npos) << report.recognizedText;
}
