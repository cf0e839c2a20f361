// Listeners that call back into the speech node, as voice agents write them,
// on the real engine with a render thread: chains of sentences started from
// "finished", reloads and format changes from inside produce, syntheses and
// appends from "synthesisStarted" on a control thread and on the audio
// thread, and "stop" while pieces wait. Every test runs under a watchdog: a
// hang ends the program with its name.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "RealVoice.h"
#include "RenderThread.h"
#include "support/LogCapture.h"
#include "tts/TTSInternals.h"

using namespace real_voice;
using namespace render_thread;
using namespace std::chrono_literals;

namespace {

std::string sentence(int i) { return "Sentence number " + std::to_string(i) + " is spoken now."; }
// Sentences 0 to n - 1, after `first` when given.
std::vector<std::string> sentences(int n, const std::vector<std::string>& first = {}) {
  std::vector<std::string> all = first;
  for (int i = 0; i < n; ++i) all.push_back(sentence(i));
  return all;
}

QVAnyMap textParams(const std::string& text) { return QVAnyMap{{"text", QVAny(text)}}; }
QVAnyMap tokenParams(const std::string& token, bool isFinal) {
  return QVAnyMap{{"token", QVAny(token)}, {"isFinal", QVAny(isFinal)}};
}

class TTSListenerRealEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!voicePresent()) GTEST_SKIP() << "the demonstration voice is not in " << voiceDir();
    node = std::make_unique<SherpaTTSNode>(QVAnyMap());
    AudioBusFormat format{48000, 2};
    ASSERT_TRUE(node->setBusFormat(format));
    record();
  }
  void TearDown() override {
    audio.reset();
    trace.reset();
    node.reset();
  }
  // Records the node's events afresh; `react` runs on the emitting thread.
  void record(EventRecorder::Reaction react = {}) {
    trace.reset();
    trace.reset(new EventRecorder(*node, {"finished", "synthesisStarted"}, std::move(react)));
  }
  void startAudio(Format format = {}) { audio = std::make_unique<RenderThread>(*node, format); }
  bool call(const std::string& action, const QVAnyMap& params) { return node->callAction(action, params).isOk(); }
  // No new sound for 30 blocks.
  bool quiet() {
    const long before = audio->audibleBlocks();
    audio->waitBlocks(30);
    return audio->audibleBlocks() == before;
  }

  testing_support::LogCapture logs{quorvel::LogLevel::Info};
  std::unique_ptr<SherpaTTSNode> node;
  std::unique_ptr<EventRecorder> trace;
  std::unique_ptr<RenderThread> audio;
};

}  // namespace

// "Speak the next one when this one is done", through "synthesize", also
// after a text that another cut in on.
TEST_F(TTSListenerRealEngine, AFinishedListenerChainsTwentySentencesThroughSynthesize) {
  for (bool cutIn : {false, true}) {
    SCOPED_TRACE(cutIn ? "after a cut-in" : "plain");
    Watchdog watchdog("synthesize chain", 90s);
    std::atomic<int> next{1};
    std::atomic<bool> onAudioThread{true};
    record([&](const RecordedEvent& e) {
      if (e.name != "finished") return;
      if (!audio->onThisThread()) onAudioThread.store(false);
      if (next.load() < 20) call("synthesize", textParams(sentence(next.fetch_add(1))));
    });
    startAudio();
    if (cutIn) {
      ASSERT_TRUE(call("synthesize", textParams("This first text is cut off by the next one.")));
    }
    ASSERT_TRUE(call("synthesize", textParams(sentence(0))));
    ASSERT_TRUE(trace->waitFor([&] { return trace->count("finished") == 20; }, 60s));
    EXPECT_TRUE(quiet());
    audio->stop();

    const auto first = cutIn ? std::vector<std::string>{"This first text is cut off by the next one."}
                             : std::vector<std::string>{};
    EXPECT_EQ(trace->startedTexts(), sentences(20, first));
    EXPECT_EQ(trace->count("finished"), 20);
    EXPECT_TRUE(onAudioThread.load());
    EXPECT_TRUE(audio->allBlocksOk());
    EXPECT_TRUE(audio->channelsAlwaysEqual());
    EXPECT_GT(audio->audibleBlocks(), 20 * 100) << "each sentence lasts well over a second";
  }
}

TEST_F(TTSListenerRealEngine, AFinishedListenerChainsTwentySentencesThroughFinalTokens) {
  Watchdog watchdog("streaming chain", 90s);
  std::atomic<int> next{1};
  record([&](const RecordedEvent& e) {
    if (e.name == "finished" && next.load() < 20)
      call("appendStreamingText", tokenParams(sentence(next.fetch_add(1)), true));
  });
  startAudio();
  ASSERT_TRUE(call("appendStreamingText", tokenParams(sentence(0), true)));
  ASSERT_TRUE(trace->waitFor([&] { return trace->count("finished") == 20; }, 60s));
  EXPECT_TRUE(quiet());
  EXPECT_EQ(trace->startedTexts(), sentences(20));
  EXPECT_EQ(trace->count("finished"), 20);
  EXPECT_TRUE(audio->allBlocksOk());
}

// A reload and two format changes, each from inside produce; the node
// speaks on after each.
TEST_F(TTSListenerRealEngine, ReloadsAndFormatChangesFromAFinishedListener) {
  Watchdog watchdog("reload and format changes", 90s);
  std::atomic<int> finished{0};
  std::atomic<bool> reloaded{false};
  std::atomic<bool> formatsAccepted{true};
  record([&](const RecordedEvent& e) {
    if (e.name != "finished") return;
    switch (finished.fetch_add(1)) {
      case 0: {
        auto result = node->callAction("loadModel", loadModelParams(onnxModel(), tokens(), dataDir()));
        reloaded.store(result.isOk() && QVAny::convert<bool>(result.value()));
        break;
      }
      case 1: {
        AudioBusFormat voiceRate{16000, 1};
        formatsAccepted.store(formatsAccepted.load() && node->setBusFormat(voiceRate));
        break;
      }
      case 2: {
        AudioBusFormat graphRate{48000, 2};
        formatsAccepted.store(formatsAccepted.load() && node->setBusFormat(graphRate));
        break;
      }
      default: return;
    }
    call("synthesize", textParams(sentence(finished.load())));
  });
  startAudio();
  ASSERT_TRUE(call("synthesize", textParams(sentence(0))));
  ASSERT_TRUE(trace->waitFor([&] { return trace->count("finished") == 4; }, 60s));
  EXPECT_TRUE(quiet());
  audio->stop();
  EXPECT_TRUE(reloaded.load());
  EXPECT_TRUE(logs.contains("[SherpaTTSNode] Model already loaded, cleaning up before reloading"));
  EXPECT_TRUE(formatsAccepted.load());
  EXPECT_NE(node->internalsForTesting().resampler, nullptr) << "the last format converts again";
  EXPECT_EQ(trace->startedTexts(), sentences(4));
  EXPECT_TRUE(audio->allBlocksOk());
}

// On a control thread: a text begun from "synthesisStarted" cuts in on the
// one announced; a piece appended there waits behind it.
TEST_F(TTSListenerRealEngine, SynthesisStartedListenersSynthesizeAndAppendOnAControlThread) {
  Watchdog watchdog("synthesisStarted on a control thread", 60s);
  const std::string piece = "A streamed piece that is long enough to be cut off at its end.";
  record([&](const RecordedEvent& e) {
    if (e.name != "synthesisStarted") return;
    if (e.text == "Outer text.") call("synthesize", textParams("Inner text cuts in."));
    if (e.text == "Second outer text.") call("appendStreamingText", tokenParams(piece, true));
  });
  startAudio();
  ASSERT_TRUE(call("synthesize", textParams("Outer text.")));
  ASSERT_TRUE(trace->waitFor([&] { return trace->count("finished") == 1; }, 30s));
  ASSERT_TRUE(call("synthesize", textParams("Second outer text.")));
  ASSERT_TRUE(trace->waitFor([&] { return trace->count("finished") == 3; }, 30s));
  EXPECT_TRUE(quiet());
  EXPECT_EQ(trace->startedTexts(),
            (std::vector<std::string>{"Outer text.", "Inner text cuts in.", "Second outer text.", piece}));
  EXPECT_EQ(trace->count("finished"), 3) << "the outer text gave way and got no \"finished\"";
}

// On the audio thread: the piece cut after "finished" is announced there;
// its listener cuts in with a whole text, or appends the next piece, which
// is heard after it.
TEST_F(TTSListenerRealEngine, SynthesisStartedListenersSynthesizeAndAppendOnTheAudioThread) {
  for (bool cutIn : {true, false}) {
    SCOPED_TRACE(cutIn ? "synthesize" : "append");
    Watchdog watchdog("synthesisStarted on the audio thread", 60s);
    const std::string held = "This streamed sentence waits while the first one plays, then goes.";
    const std::string reply = cutIn ? "A whole text from the audio thread." : " And a final piece from there.";
    std::atomic<bool> announcedOnAudioThread{false};
    record([&](const RecordedEvent& e) {
      if (e.name != "synthesisStarted" || e.text != held) return;
      announcedOnAudioThread.store(audio->onThisThread());
      if (cutIn) {
        call("synthesize", textParams(reply));
      } else {
        call("appendStreamingText", tokenParams(reply, true));
      }
    });
    startAudio();
    ASSERT_TRUE(call("synthesize", textParams("First.")));
    ASSERT_TRUE(trace->waitFor([&] { return trace->count("synthesisStarted") == 1; }, 10s));
    ASSERT_TRUE(call("appendStreamingText", tokenParams(held, false)));  // held: "First." plays
    ASSERT_TRUE(trace->waitFor([&] { return trace->count("finished") == (cutIn ? 2 : 3); }, 30s));
    EXPECT_TRUE(quiet());
    audio->stop();
    EXPECT_TRUE(announcedOnAudioThread.load());
    EXPECT_EQ(trace->startedTexts(), (std::vector<std::string>{"First.", held, reply}));
    EXPECT_EQ(trace->count("finished"), cutIn ? 2 : 3);
    audio.reset();
  }
}

// Barge-in while a piece waits behind the one that plays: from a control
// thread, and from the "finished" listener of the playing piece.
TEST_F(TTSListenerRealEngine, StopDropsWhatPlaysAndWhatIsQueued) {
  for (bool fromListener : {false, true}) {
    SCOPED_TRACE(fromListener ? "from a listener" : "from a control thread");
    Watchdog watchdog("stop", 60s);
    record([&](const RecordedEvent& e) {
      if (fromListener && e.name == "finished") call("stop", QVAnyMap());
    });
    startAudio();
    ASSERT_TRUE(call("appendStreamingText",
                     tokenParams("The first piece plays for a while, long enough for a barge-in.", false)));
    ASSERT_TRUE(call("appendStreamingText", tokenParams(" The second piece waits in the queue behind it.", true)));
    ASSERT_EQ(trace->count("synthesisStarted"), 2);
    ASSERT_EQ(trace->count("finished"), 0) << "the final token came while the first piece played";
    ASSERT_TRUE(call("appendStreamingText", tokenParams(" Held text that stop drops", false)));
    if (fromListener) {
      ASSERT_TRUE(trace->waitFor([&] { return trace->count("finished") == 1; }, 30s));
    } else {
      audio->waitBlocks(20);
      ASSERT_TRUE(call("stop", QVAnyMap()));
    }
    // The fade, the block of source audio the converter already holds, and
    // the block the render thread may still be counting when stop returns.
    audio->waitBlocks(3);
    EXPECT_TRUE(quiet()) << "speech went on after stop";
    EXPECT_EQ(trace->count("finished"), fromListener ? 1 : 0) << "dropped speech got \"finished\"";
    {
      auto& state = node->internalsForTesting();
      std::lock_guard<std::mutex> lock(state.streamingMutex);
      EXPECT_TRUE(state.streamingBuffer.empty());
    }

    // The node speaks normally afterwards, and the next text is a new turn.
    logs.clear();
    ASSERT_TRUE(call("synthesize", textParams("After the barge-in.")));
    EXPECT_EQ(logs.linesStartingWith("[LATENCY][TTS_FIRST_SYNTHESIS] timestamp=").size(), 1u);
    ASSERT_TRUE(trace->waitFor([&] { return trace->count("finished") == (fromListener ? 2 : 1); }, 30s));
    audio.reset();
  }
}
