// Half a minute (or QS_SOAK_SECONDS) of random use of one text-to-speech
// node on the real engine with the demonstration voice, with the generated
// recognizer decoding the known test audio alongside.
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
  SherpaTTSNode node{quorvel::QVAnyMap()};
  ASSERT_NE(node.internalsForTesting().tts, nullptr);
  SherpaSTTNode recognizer;
  const soak::Report report = soak::runAndCheck(node, recognizer, 23, "real engine, seed 23");
  EXPECT_NE(report.recognizedText.find("HELLO WORLD"), std::string::npos) << report.recognizedText;
}
