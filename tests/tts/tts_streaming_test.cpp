// The streaming text buffer on the node: held text, pacing by the end of
// playback, final tokens, clearing, and the synthesis after "finished" when
// the engine is busy elsewhere.
#include <chrono>
#include <thread>

#include "TTSTestSupport.h"

using namespace tts_test;
using quorvel::extensions::sherpa::PieceQueue;

namespace {

class TTSStreaming : public TTSFixture {
 protected:
  // Produces blocks until the playing item has ended and "finished" is out.
  static int playToFinished(SherpaTTSNode& node, EventLog& events, Block& block) {
    const int before = events.count("finished");
    int blocks = 0;
    while (events.count("finished") == before && blocks < 200) {
      node.produce(block.bus());
      ++blocks;
    }
    return blocks;
  }
  static void waitForGenerationsInFlight(int n) {
    while (fake_engine::calls().generateInFlight.load() < n) std::this_thread::yield();
  }
};

const std::string kSentence40 = "This sentence is forty bytes long, yes.";  // 39 + space below

}  // namespace

TEST_F(TTSStreaming, AShortSentenceIsHeldUntilTheBufferReaches50) {
  auto node = makeNode();
  node->appendStreamingText(kSentence40 + " ", false);
  ASSERT_EQ(buffer(*node).size(), 40u);
  EXPECT_EQ(fake_engine::calls().generate.load(), 0);
  node->appendStreamingText("And more ", false);  // 49 bytes
  EXPECT_EQ(fake_engine::calls().generate.load(), 0);
  node->appendStreamingText("words", false);  // 54 bytes, nothing playing
  EXPECT_EQ(fake_engine::generatedTexts(), Texts{kSentence40});
  EXPECT_EQ(buffer(*node), "And more words");
}

TEST_F(TTSStreaming, TwoSentencesGoAsOnePieceAndTheRestIsTrimmed) {
  auto node = makeNode();
  node->appendStreamingText("The first sentence ends here. The second one too! And a th", false);
  EXPECT_EQ(fake_engine::generatedTexts(), Texts{"The first sentence ends here. The second one too!"});
  EXPECT_EQ(buffer(*node), "And a th");
}

TEST_F(TTSStreaming, TokensWaitWhilePlayingAndOnePieceIsTakenAtFinished) {
  makeSpeaker();
  node->synthesize("Now playing.");
  node->produce(block.bus());
  ASSERT_TRUE(in(*node).currentItem.load() != nullptr);

  const std::string first = "A sentence that is long enough to be cut off now. ";
  const std::string second = "Another one, also long enough on its own to go. ";
  node->appendStreamingText(first, false);
  node->appendStreamingText(second, false);
  node->appendStreamingText("Tail without end", false);
  EXPECT_EQ(fake_engine::calls().generate.load(), 1);  // all held
  EXPECT_EQ(buffer(*node), first + second + "Tail without end");

  logs->clear();
  playToFinished(*node, *events, block);
  // Everything up to the last sentence end went at "finished", as one piece.
  const std::string piece = first + second.substr(0, second.size() - 1);
  EXPECT_EQ(fake_engine::generatedTexts().back(), piece);
  EXPECT_TRUE(logs->contains("[SherpaTTSNode] Synthesizing buffered text after audio finished: " + piece));
  EXPECT_EQ(buffer(*node), "Tail without end");
  // The new piece sounds in the block that emitted "finished".
  EXPECT_EQ(block.at(0, 0), fake_engine::sampleValue(0));
  EXPECT_EQ(events->names().back(), "synthesisStarted");

  // At its end the tail has no break: it stays for the next append.
  playToFinished(*node, *events, block);
  EXPECT_EQ(fake_engine::calls().generate.load(), 2);
  EXPECT_EQ(buffer(*node), "Tail without end");
}

TEST_F(TTSStreaming, AFinalTokenFlushesEverythingPlayingOrNot) {
  auto node = makeNode();
  node->appendStreamingText("Short", false);
  node->appendStreamingText(" end", true);
  EXPECT_EQ(fake_engine::generatedTexts(), Texts{"Short end"});
  EXPECT_TRUE(buffer(*node).empty());

  node->produce(block.bus());
  ASSERT_NE(in(*node).currentItem.load(), nullptr);
  node->appendStreamingText("Held while playing.", false);
  node->appendStreamingText(" Flushed", true);
  EXPECT_EQ(fake_engine::generatedTexts().back(), "Held while playing. Flushed");
  EXPECT_TRUE(buffer(*node).empty());

  node->appendStreamingText("", true);  // nothing to flush
  EXPECT_EQ(fake_engine::calls().generate.load(), 2);
}

// The queue of pieces is bounded: a final token that finds it full keeps its
// text in the buffer, and the flush goes out as soon as a place is free (at
// the next synthesis, append or end of playback), behind what was queued.
TEST_F(TTSStreaming, AFinalTokenThatFindsTheQueueFullWaitsForAPlace) {
  makeSpeaker();
  for (size_t i = 0; i < PieceQueue::kCapacity; ++i) node->appendStreamingText("Piece " + std::to_string(i), true);
  EXPECT_TRUE(in(*node).queuedPieces.full());
  node->appendStreamingText("Waits for a place", true);
  EXPECT_EQ(buffer(*node), "Waits for a place");
  EXPECT_EQ(fake_engine::calls().generate.load(), static_cast<int>(PieceQueue::kCapacity));

  node->produce(block.bus());  // the first piece leaves the queue and plays
  node->appendStreamingText(" still", false);  // a place is free: the flush goes, behind the others
  EXPECT_TRUE(buffer(*node).empty());
  EXPECT_EQ(fake_engine::generatedTexts().back(), "Waits for a place still");
  const int blocksPerPiece = fake_engine::knobs().samplesPerText / static_cast<int>(block.frames()) + 2;
  for (int b = 0; b < blocksPerPiece * static_cast<int>(PieceQueue::kCapacity + 1); ++b) node->produce(block.bus());
  EXPECT_EQ(events->count("finished"), static_cast<int>(PieceQueue::kCapacity) + 1);
  EXPECT_EQ(events->startedTexts().back(), "Waits for a place still");
}

TEST_F(TTSStreaming, ClearingDropsTextKeepsPlaybackAndRearmsTheLatencyLine) {
  makeSpeaker();
  node->synthesize("Playing on.");
  node->produce(block.bus());
  node->appendStreamingText("Dropped words.", false);
  node->clearStreamingBuffer();
  EXPECT_TRUE(buffer(*node).empty());
  EXPECT_NE(in(*node).currentItem.load(), nullptr);
  const int blocks = playToFinished(*node, *events, block);
  EXPECT_EQ(blocks, 7);  // the other 840 samples in six blocks, then "finished"
  EXPECT_EQ(fake_engine::calls().generate.load(), 1);
  node->synthesize("Next.");
  EXPECT_EQ(logs->linesStartingWith("[LATENCY]").size(), 2u);
}

TEST_F(TTSStreaming, WithoutAVoicePiecesAreCutAndRefused) {
  auto node = makeNode();
  fake_engine::knobs().createTtsFails = true;
  reload(*node);
  ASSERT_EQ(in(*node).tts, nullptr);
  logs->clear();
  node->appendStreamingText(std::string(60, 'a') + ". rest", false);
  EXPECT_EQ(buffer(*node), "rest");
  EXPECT_TRUE(logs->contains("[SherpaTTSNode] synthesize is called but TTS instance is not initialized."));
}

// The synthesis after "finished" finds the engine busy with a control-thread
// synthesis. The text stays and is spoken at the next opportunity.
TEST_F(TTSStreaming, BufferedTextWaitsForABusyEngineAndIsNeverDropped) {
  for (bool controlProducesAudio : {true, false}) {
    SCOPED_TRACE(controlProducesAudio ? "the control synthesis publishes" : "the control synthesis yields nothing");
    fake_engine::reset();
    makeSpeaker();
    fake_engine::knobs().samplesPerText = 320;
    Block block(1, 160);
    node->synthesize("First.");
    node->produce(block.bus());
    const std::string piece = "Buffered sentence that is long enough to be spoken.";
    node->appendStreamingText(piece + " ", false);
    ASSERT_EQ(fake_engine::calls().generate.load(), 1);  // held: still playing
    node->produce(block.bus());  // "First." is complete now

    fake_engine::holdGeneration(true);
    std::thread control([&] { node->synthesize("Control."); });
    waitForGenerationsInFlight(1);
    node->produce(block.bus());  // "finished": the engine is busy
    EXPECT_EQ(events->count("finished"), 1);
    EXPECT_EQ(buffer(*node), piece + " ") << "the text stays while the engine is busy";
    EXPECT_TRUE(in(*node).bufferedSynthesisPending.load());
    node->produce(block.bus());  // still busy: nothing changes
    EXPECT_EQ(buffer(*node), piece + " ");

    fake_engine::knobs().generateReturnsNull = !controlProducesAudio;
    fake_engine::holdGeneration(false);
    control.join();
    fake_engine::knobs().generateReturnsNull = false;
    EXPECT_EQ(fake_engine::calls().maxGenerateInFlight.load(), 1);

    if (controlProducesAudio) {
      // "Control." plays first; its end takes the buffered piece.
      node->produce(block.bus());
      EXPECT_EQ(fake_engine::calls().generate.load(), 2);
      EXPECT_EQ(block.at(0, 0), fake_engine::sampleValue(0));
      playToFinished(*node, *events, block);
    } else {
      // Nothing else plays: the next block speaks the piece.
      node->produce(block.bus());
    }
    EXPECT_EQ(fake_engine::generatedTexts().back(), piece);
    EXPECT_TRUE(buffer(*node).empty());
    EXPECT_FALSE(in(*node).bufferedSynthesisPending.load());
    EXPECT_EQ(block.at(0, 0), fake_engine::sampleValue(0)) << "the piece sounds in that same block";
  }
}

TEST_F(TTSStreaming, SimultaneousSynthesesNeverShareTheEngineAndLoseNoText) {
  auto node = makeNode();
  fake_engine::knobs().samplesPerText = 160;
  fake_engine::knobs().generateDelayMicros = 2000;
  std::atomic<bool> stop{false};
  std::thread audio([&] {
    Block block(1, 160);
    while (!stop.load()) node->produce(block.bus());
  });
  const std::string sentence = "A sentence of enough length to be cut off at its end. ";
  std::thread appender([&] {
    for (int i = 0; i < 20; ++i) node->appendStreamingText(sentence, false);
  });
  for (int i = 0; i < 20; ++i) node->synthesize("Direct.");
  appender.join();
  // Every appended sentence ends in a break, so the buffer drains.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!buffer(*node).empty() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  stop.store(true);
  audio.join();
  EXPECT_EQ(fake_engine::calls().maxGenerateInFlight.load(), 1);
  EXPECT_TRUE(buffer(*node).empty());
  int sentences = 0;
  int direct = 0;
  for (const std::string& text : fake_engine::generatedTexts()) {
    direct += text == "Direct." ? 1 : 0;
    for (size_t at = text.find("A sentence of"); at != std::string::npos; at = text.find("A sentence of", at + 1))
      ++sentences;
  }
  EXPECT_EQ(direct, 20);
  EXPECT_EQ(sentences, 20);  // each appended sentence spoken exactly once
}
