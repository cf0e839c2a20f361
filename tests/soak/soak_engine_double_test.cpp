// Half a minute (or QS_SOAK_SECONDS) of random use of one text-to-speech
// node on the engine test double, with a recognition node fed and decoded
// alongside.
#include <gtest/gtest.h>

#include <quorvel/Logger.h>

#include "SoakExpectations.h"
#include "fake_engine/FakeEngine.h"
#include "tts/TTSInternals.h"
#include "support/LogCapture.h"

using namespace quorvel::extensions::sherpa;

TEST(SoakEngineDouble, RandomUseLosesNoSegmentAndKeepsMemoryFlat) {
  fake_engine::reset();
  // 200 samples a byte: every segment lasts well over one 10 ms block.
  fake_engine::knobs().samplesPerChar = 200;
  fake_engine::knobs().recognizedText = "hello world";
  SherpaTTSNode node{quorvel::QVAnyMap()};
  ASSERT_NE(node.internalsForTesting().tts, nullptr) << "no voice beside the test program";
  SherpaSTTNode recognizer;
  const soak::Report report = soak::runAndCheck(node, recognizer, 11, "engine double, seed 11");
  EXPECT_EQ(report.recognizedText, "hello world");
}
