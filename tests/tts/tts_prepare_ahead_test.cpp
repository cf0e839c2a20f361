// "prepareAhead": the append that completes the next piece while speech
// plays has it generated there and then, on the appending thread; the
// render step takes it up in the block in which the playing piece ends and
// announces it there, right after that piece's "finished".
#include <thread>

#include "TTSTestSupport.h"

using namespace tts_test;

namespace {

class TTSPrepareAhead : public TTSFixture {
 protected:
  void SetUp() override {
    TTSFixture::SetUp();
    fake_engine::knobs().samplesPerText = 320;  // two blocks of 160
    fake_engine::knobs().onGenerate = [this](const std::string&) {
      if (std::this_thread::get_id() == renderThread) ++generationsOnRenderThread;
    };
  }
  // Renders one block as the audio thread.
  void render(SherpaTTSNode& node, Block& block) {
    renderThread = std::this_thread::get_id();
    node.produce(block.bus());
    renderThread = {};
  }

  std::thread::id renderThread;
  int generationsOnRenderThread = 0;
};

const std::string kFirst = "The first piece is long enough to be cut off at its end.";
const std::string kSecond = " The second piece is also long enough to be cut right here.";

}  // namespace

TEST_F(TTSPrepareAhead, TheNextPieceIsMadeByTheAppendAndAnnouncedWhenItStarts) {
  makeSpeaker(QVAnyMap{{"prepareAhead", QVAny(true)}});
  EXPECT_FALSE(logs->contains("Unknown parameter: prepareAhead"));
  node->appendStreamingText(kFirst, false);
  render(*node, block);  // the first piece plays
  node->appendStreamingText(kSecond, false);
  EXPECT_EQ(fake_engine::generatedTexts().size(), 2u) << "the second piece was not made by its append";
  EXPECT_EQ(events->startedTexts(), Texts{kFirst}) << "announced before it starts";
  // A third complete piece is prepared too, behind the second: should the
  // generator pause now (a tool call), the audio thread has nothing to make
  // when the second ends.
  const std::string third = " A third piece is prepared behind the second one right away.";
  node->appendStreamingText(third, false);
  EXPECT_EQ(fake_engine::generatedTexts().size(), 3u) << "the third piece was left for the audio thread";

  render(*node, block);  // the first piece's last samples
  render(*node, block);  // it ends; the second starts in this block
  EXPECT_EQ(events->names(), (Texts{"synthesisStarted", "finished", "synthesisStarted"}));
  EXPECT_EQ(events->startedTexts().back(), kSecond);
  EXPECT_EQ(block.at(0, 0), fake_engine::sampleValue(0)) << "no block of silence between the pieces";
  for (int b = 0; b < 4; ++b) render(*node, block);  // the second ends, the third plays out
  EXPECT_EQ(events->startedTexts(), (Texts{kFirst, kSecond, third}));
  EXPECT_EQ(events->count("finished"), 3);
  EXPECT_EQ(generationsOnRenderThread, 0);
}

TEST_F(TTSPrepareAhead, WithoutTheKeyTheRenderThreadCutsAndGeneratesAsBefore) {
  makeSpeaker();
  node->appendStreamingText(kFirst, false);
  render(*node, block);
  node->appendStreamingText(kSecond, false);
  EXPECT_EQ(fake_engine::generatedTexts().size(), 1u) << "held while the first piece plays";
  for (int b = 0; b < 2; ++b) render(*node, block);
  EXPECT_EQ(events->names(), (Texts{"synthesisStarted", "finished", "synthesisStarted"}));
  EXPECT_EQ(generationsOnRenderThread, 1);
}

TEST_F(TTSPrepareAhead, AFinalTokenWhilePlayingIsPreparedAndAnnouncedInTurn) {
  makeSpeaker(QVAnyMap{{"prepareAhead", QVAny(true)}});
  node->appendStreamingText(kFirst, false);
  render(*node, block);
  node->appendStreamingText(" And the end", true);
  EXPECT_EQ(events->startedTexts().size(), 1u);
  for (int b = 0; b < 6; ++b) render(*node, block);
  EXPECT_EQ(events->names(), (Texts{"synthesisStarted", "finished", "synthesisStarted", "finished"}));
  EXPECT_EQ(events->startedTexts().back(), " And the end");
  EXPECT_EQ(generationsOnRenderThread, 0);
}

TEST_F(TTSPrepareAhead, StopDropsAPreparedPieceUnannounced) {
  makeSpeaker(QVAnyMap{{"prepareAhead", QVAny(true)}});
  node->appendStreamingText(kFirst, false);
  render(*node, block);
  node->appendStreamingText(kSecond, false);
  node->stop();
  for (int b = 0; b < 5; ++b) render(*node, block);
  EXPECT_TRUE(block.silent());
  EXPECT_EQ(events->names(), Texts{"synthesisStarted"});
}
