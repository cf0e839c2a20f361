// Segments that play while the engine still generates them: published with
// the first sentence, played as far as samples are ready, complete only when
// generation has ended and everything has played, and ended early by a
// cut-in, "stop" or a reload. The engine double hands over its samples in
// "sentences" of a fixed size and lets a test act between two of them.
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "TTSTestSupport.h"

using namespace tts_test;

namespace {

class TTSGrowingSegment : public TTSFixture {
 protected:
  void SetUp() override {
    TTSFixture::SetUp();
    fake_engine::knobs().samplesPerText = 1000;
    fake_engine::knobs().samplesPerCallback = 400;  // sentences of 400, 400 and 200 samples
  }

  // Runs `between` on the generating thread before each sentence after the
  // first, with the samples handed over so far.
  void betweenSentences(std::function<void(int32_t)> between) {
    fake_engine::knobs().beforeCallback = [between](int32_t made) {
      if (made > 0) between(made);
    };
  }
};

}  // namespace

TEST_F(TTSGrowingSegment, IsPublishedWithItsFirstSentenceAndPlaysWhatIsReady) {
  makeSpeaker();
  std::vector<float> heard;
  std::vector<int32_t> readyAtEachSentence;
  betweenSentences([&](int32_t made) {
    GeneratedAudioItem* item = in(*node).nextItem.load();
    ASSERT_NE(item, nullptr) << "not published after its first sentence";
    readyAtEachSentence.push_back(item->samplesReady());
    // The render step catches up with generation: what is ready plays, then
    // silence, with no "finished" while the engine still works.
    const std::vector<float> more = renderMono(*node, block, 5);
    heard.insert(heard.end(), more.begin(), more.end());
    EXPECT_EQ(item->readPosition.load(), made);
    EXPECT_FALSE(item->complete.load());
    EXPECT_EQ(events->count("finished"), 0);
    EXPECT_TRUE(block.silent()) << "the last block had nothing ready to play";
  });
  node->synthesize("Three sentences. Of speech. Here.");
  EXPECT_EQ(readyAtEachSentence, (std::vector<int32_t>{400, 800}));
  const std::vector<float> rest = renderMono(*node, block, 3);
  heard.insert(heard.end(), rest.begin(), rest.end());
  EXPECT_EQ(events->count("finished"), 1);
  // Every sample once, in order, with silence where playback waited.
  std::vector<float> sound;
  for (float v : heard)
    if (v != 0.0f) sound.push_back(v);
  ASSERT_EQ(sound.size(), 1000u);
  for (int32_t i = 0; i < 1000; ++i) ASSERT_EQ(sound[static_cast<size_t>(i)], fake_engine::sampleValue(i)) << i;
}

TEST_F(TTSGrowingSegment, AStreamedPieceIsQueuedWithItsFirstSentence) {
  auto node = makeNode();
  bool queued = false;
  betweenSentences([&](int32_t) { queued = queued || in(*node).queuedPieces.front() != nullptr; });
  node->appendStreamingText("A piece long enough to be cut off right here at its end. Rest", false);
  EXPECT_TRUE(queued);
  EXPECT_EQ(in(*node).queuedPieces.front()->samplesReady(), 1000);
}

// "stop" from another thread and a whole text waiting for the engine both
// end the generation at its next sentence.
TEST_F(TTSGrowingSegment, StopAndACutInEndAGenerationEarly) {
  for (bool stop : {true, false}) {
    SCOPED_TRACE(stop ? "stop" : "cut-in");
    fake_engine::reset();
    SetUp();
    makeSpeaker();
    std::thread other;
    std::atomic<bool> otherWaiting{false};
    betweenSentences([&](int32_t made) {
      if (made != 400 || other.joinable()) return;  // the first text's second sentence only
      other = std::thread([&] {
        otherWaiting.store(true);
        if (stop) {
          node->stop();
        } else {
          node->synthesize("The cut-in.");
        }
      });
      while (!otherWaiting.load()) std::this_thread::yield();
      // A cut-in waits for the engine; "stop" returns at once.
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    });
    node->synthesize("The first text. Its second sentence. Its third.");
    other.join();
    GeneratedAudioItem* first = in(*node).generatedAudioItems.front().get();
    EXPECT_EQ(first->samplesReady(), 400) << "generation went on after it no longer mattered";
    EXPECT_TRUE(first->generationDone.load());
    Block block(1, 160);
    for (int b = 0; b < 20; ++b) node->produce(block.bus());
    EXPECT_EQ(first->readPosition.load(), 0) << "dropped before it was taken up";
    EXPECT_EQ(events->count("finished"), stop ? 0 : 1);
    EXPECT_EQ(events->startedTexts().size(), stop ? 1u : 2u);
  }
}

TEST_F(TTSGrowingSegment, AReloadEndsAGenerationEarly) {
  auto node = makeNode();
  std::thread reload;
  betweenSentences([&](int32_t made) {
    if (made != 400 || reload.joinable()) return;
    reload = std::thread([&] { EXPECT_TRUE(this->reload(*node)); });
    while (in(*node).loadsWaiting.load() == 0) std::this_thread::yield();
  });
  node->synthesize("The first text. Its second sentence. Its third.");
  reload.join();
  EXPECT_EQ(fake_engine::calls().createTts.load(), 2);
  EXPECT_EQ(itemsAlive(), 0) << "the reload dropped the shortened segment";
  EXPECT_EQ(in(*node).nextItem.load(), nullptr);
}

// An engine that fails after its first sentence: what it made plays.
TEST_F(TTSGrowingSegment, AFailureAfterTheFirstSentencePlaysWhatWasMade) {
  makeSpeaker();
  betweenSentences([](int32_t) { throw std::runtime_error("engine failure between sentences"); });
  node->synthesize("One. Two. Three.");
  EXPECT_TRUE(logs->contains("[SherpaTTSNode] Engine error while synthesizing: engine failure between sentences"));
  GeneratedAudioItem* item = in(*node).nextItem.load();
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->samplesReady(), 400);
  EXPECT_TRUE(item->generationDone.load());
  for (int b = 0; b < 4; ++b) node->produce(block.bus());
  EXPECT_EQ(events->count("finished"), 1);
}
