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
  // Errors only: the other lines would pile up in the capture.
  testing_support::LogCapture logs(quorvel::LogLevel::Error);

  SherpaTTSNode node{quorvel::QVAnyMap()};
  ASSERT_NE(node.internalsForTesting().tts, nullptr) << "no voice beside the test program";
  SherpaSTTNode recognizer;

  soak::Options options;
  options.duration = soak::duration();
  options.voice = soak::defaultVoice();
  options.recognizerAudio = soak::helloWorldAudio();
  options.seed = 11;
  const soak::Report report = soak::run(node, &recognizer, options);
  soak::print("engine double, seed 11", report);

  soak::expectHealthy(report);
  const auto errors = logs.lines();
  EXPECT_TRUE(errors.empty()) << errors.size() << " error lines, first: " << errors.front();
  EXPECT_EQ(report.recognizedText, "hello world");
}
