// A whole text on the real-cost voice (generation about 0.07 of real time)
// with a render thread at real time: its first sentence sounds while the
// engine still generates the rest, and the segment, once complete, holds
// exactly the samples the engine makes for the whole text.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "RealVoice.h"
#include "RenderThread.h"
#include "support/LogCapture.h"
#include "tts/TTSInternals.h"

using namespace real_voice;
using namespace render_thread;
using namespace std::chrono_literals;

namespace {

const fs::path kRealCostDir = voiceDir().parent_path() / "vits-piper-en_GB-southern_english_female-low-real-cost";
const std::string kRealCostModel =
    (kRealCostDir / "en_GB-southern_english_female-low-real-cost.with_runtime_opt.ort").string();

const char* const kText =
    "The morning train left the station on time and carried people home. "
    "Many quiet people walked towards the old city before the evening came. "
    "A small boat crossed the river while the sun was going down slowly. "
    "They would work until late in the evening and then take the bus home.";

}  // namespace

TEST(TTSGrowingRealEngine, AWholeTextSoundsWhileTheEngineStillGeneratesIt) {
  if (!voicePresent() || !fs::exists(kRealCostModel)) GTEST_SKIP() << "the generated voices are not beside the program";
  Watchdog watchdog("growing segment", 120s);
  testing_support::LogCapture logs{quorvel::LogLevel::Warning};
  SherpaTTSNode node{QVAnyMap()};
  ASSERT_TRUE(node.loadModel(kRealCostModel, (kRealCostDir / "tokens.txt").string(),
                             (kRealCostDir / "espeak-ng-data").string()));
  AudioBusFormat voiceRate{16000, 1};
  ASSERT_TRUE(node.setBusFormat(voiceRate));
  EventRecorder trace(node);
  RenderThread audio(node, Format{16000, 1, 160, 1, false});

  const auto start = std::chrono::steady_clock::now();
  node.synthesize(kText);  // returns when the engine is done with the whole text
  const double generationMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  const long audibleWhileGenerating = audio.audibleBlocks();
  GeneratedAudioItem* item = node.internalsForTesting().nextItem.load();
  ASSERT_NE(item, nullptr);
  const int32_t playedWhileGenerating = item->readPosition.load();
  audio.stop();

  RecordProperty("generationMs", static_cast<int>(generationMs));
  RecordProperty("playedWhileGeneratingMs", playedWhileGenerating / 16);
  EXPECT_GT(audibleWhileGenerating, 0) << "nothing sounded during the " << generationMs << " ms of generation";
  EXPECT_GT(playedWhileGenerating, 0);
  EXPECT_FALSE(item->complete.load());
  EXPECT_EQ(trace.count("finished"), 0);

  // The segment holds the whole text's audio, sample for sample (the
  // real-cost voice sounds like the demonstration voice).
  const std::vector<float> expected = EngineVoice(onnxModel(), tokens(), dataDir()).speak(kText);
  ASSERT_EQ(item->samplesReady(), static_cast<int32_t>(expected.size()));
  for (int32_t i = 0; i < item->samplesReady(); ++i) ASSERT_EQ(item->sample(i), expected[static_cast<size_t>(i)]) << i;
  EXPECT_TRUE(item->generationDone.load());
  EXPECT_TRUE(logs.lines().empty());
}
