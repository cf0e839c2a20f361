// A generator's answer of about 1 kB streamed into the speech node on the
// real engine at 50, 100 and 200 tokens per second, its final token sent
// while the first piece still plays. The rendered audio (16000 Hz mono, so
// it is the voice's own samples) must hold every piece the node announced,
// whole and in order, each exactly as the engine speaks that text alone,
// with nothing else sounding between them; and the pieces must spell the
// answer.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "RealVoice.h"
#include "RenderThread.h"
#include "support/LogCapture.h"
#include "support/StreamedAnswer.h"
#include "tts/StreamingReference.h"
#include "tts/TTSInternals.h"

using namespace real_voice;
using namespace render_thread;
using streamed_answer::kAnswer;
using streamed_answer::tokensOf;
using namespace std::chrono_literals;

namespace {

constexpr unsigned kBlock = 160;  // 10 ms at the voice's rate

bool silent(const std::vector<float>& audio, size_t from, size_t to) {
  for (size_t i = from; i < to && i < audio.size(); ++i)
    if (audio[i] != 0.0f) return false;
  return true;
}

// Finds each piece's audio in `rendered`, in order, each starting at a block
// boundary, with silence around them; returns "" or what is wrong.
std::string piecesHeardWholeInOrder(const std::vector<float>& rendered, const std::vector<std::vector<float>>& pieces) {
  size_t block = 0;
  const size_t blocks = rendered.size() / kBlock;
  for (size_t p = 0; p < pieces.size(); ++p) {
    const std::vector<float>& piece = pieces[p];
    if (piece.empty()) return "piece " + std::to_string(p) + " has no audio";
    // The piece starts at a block boundary, at the latest where sound
    // resumes (the voice may begin with a few silent samples).
    size_t sound = block;
    while (sound < blocks && silent(rendered, sound * kBlock, (sound + 1) * kBlock)) ++sound;
    size_t start = block;
    auto matchesAt = [&](size_t b) {
      return b * kBlock + piece.size() <= rendered.size() &&
             std::equal(piece.begin(), piece.end(), rendered.begin() + static_cast<long>(b * kBlock));
    };
    while (start < sound && !matchesAt(start)) ++start;
    if (!silent(rendered, block * kBlock, start * kBlock)) return "sound before piece " + std::to_string(p);
    if (start * kBlock + piece.size() > rendered.size())
      return "piece " + std::to_string(p) + " is not heard to its end";
    for (size_t i = 0; i < piece.size(); ++i)
      if (rendered[start * kBlock + i] != piece[i])
        return "piece " + std::to_string(p) + " differs from sample " + std::to_string(i) + " of " +
               std::to_string(piece.size());
    block = start + (piece.size() + kBlock - 1) / kBlock;
    if (!silent(rendered, start * kBlock + piece.size(), block * kBlock))
      return "sound after piece " + std::to_string(p) + " in its last block";
  }
  if (!silent(rendered, block * kBlock, rendered.size())) return "sound after the last piece";
  return {};
}

// Tokens per second, and whether the node prepares pieces ahead.
class TTSStreamedAnswerRealEngine : public ::testing::TestWithParam<std::tuple<int, bool>> {};

// Each piece announced before its "finished", the "finished" in the order
// of the announcements: here, announcements and ends in turn except that a
// piece may be announced while the one before it still plays.
std::string eventsInOrder(const std::vector<RecordedEvent>& events) {
  int announced = 0, finished = 0;
  for (const auto& e : events) {
    if (e.name == "synthesisStarted") ++announced;
    if (e.name == "finished" && ++finished > announced) return "a \"finished\" without its piece";
  }
  return announced == finished ? "" : "a piece without its \"finished\"";
}

}  // namespace

TEST_P(TTSStreamedAnswerRealEngine, EveryPieceIsHeardWholeAndInOrder) {
  if (!voicePresent()) GTEST_SKIP() << "the demonstration voice is not in " << voiceDir();
  const auto [tokensPerSecond, prepareAhead] = GetParam();
  Watchdog watchdog("streamed answer", 180s);
  testing_support::LogCapture logs{quorvel::LogLevel::Debug};
  const std::string answer = kAnswer;
  ASSERT_GE(answer.size(), 950u);
  ASSERT_LE(answer.size(), 1150u);

  SherpaTTSNode node{QVAnyMap{{"prepareAhead", QVAny(prepareAhead)}}};
  AudioBusFormat voiceRate{16000, 1};
  ASSERT_TRUE(node.setBusFormat(voiceRate));
  EventRecorder trace(node);
  RenderThread audio(node, Format{16000, 1, kBlock, 16, true});

  // Token i goes in at i / tokensPerSecond seconds of rendered audio.
  bool playingAtFinalToken = false;
  const long startBlock = audio.blocks();
  long sent = 0;
  for (const std::string& token : tokensOf(answer)) {
    const long due = startBlock + sent * 100 / tokensPerSecond;
    while (audio.blocks() < due) std::this_thread::sleep_for(100us);
    node.callAction("appendStreamingText", QVAnyMap{{"token", QVAny(token)}, {"isFinal", QVAny(false)}});
    ++sent;
  }
  {
    // Speech still plays or waits in the queue: the final token queues the
    // rest behind it.
    auto& internals = node.internalsForTesting();
    std::lock_guard<std::mutex> lock(internals.streamingMutex);
    playingAtFinalToken = internals.isAudioPlaying();
  }
  node.callAction("appendStreamingText", QVAnyMap{{"token", QVAny("")}, {"isFinal", QVAny(true)}});
  // Done when every announced piece has finished and nothing new comes for a
  // while: a prepared piece is announced only when it starts, in the block
  // in which the one before it ends.
  const auto done = [&] {
    const int finished = trace.count("finished");
    if (finished == 0 || finished != trace.count("synthesisStarted")) return false;
    audio.waitBlocks(30);
    return trace.count("finished") == finished && trace.count("synthesisStarted") == finished;
  };
  ASSERT_TRUE(trace.waitFor(done, 150s));
  audio.stop();

  EXPECT_TRUE(playingAtFinalToken) << "the final token should arrive while speech plays";
  const std::vector<std::string> pieces = trace.startedTexts();
  ASSERT_GE(pieces.size(), 2u);
  EXPECT_TRUE(streaming_reference::spellsText(answer, pieces, "")) << "the pieces do not spell the answer";

  EngineVoice engine(defaultTTSModelPath("en"), defaultTTSTokensPath("en"), defaultTTSDataDirPath("en"));
  ASSERT_TRUE(engine.ok());
  std::vector<std::vector<float>> expected;
  for (const auto& piece : pieces) expected.push_back(engine.speak(piece));
  ASSERT_EQ(engine.speak(pieces.front()), expected.front()) << "the voice is not deterministic";
  EXPECT_EQ(piecesHeardWholeInOrder(audio.audio(), expected), "");
  EXPECT_EQ(eventsInOrder(trace.events()), "");
  const size_t generatedOnAudioThread =
      logs.linesStartingWith("[SherpaTTSNode] Synthesizing buffered text after audio finished").size();
  if (prepareAhead) {
    EXPECT_EQ(generatedOnAudioThread, 0u) << "a piece was generated on the audio thread";
  }
  RecordProperty("generatedOnAudioThread", static_cast<int>(generatedOnAudioThread));
  for (const auto& [level, line] : logs.entries())
    EXPECT_TRUE(level > quorvel::LogLevel::Warning) << line;
  RecordProperty("pieces", static_cast<int>(pieces.size()));
}

INSTANTIATE_TEST_SUITE_P(TokensPerSecond, TTSStreamedAnswerRealEngine,
                         ::testing::Combine(::testing::Values(50, 100, 200), ::testing::Bool()));
