// Synthesis: cleaning, the latency line, the event, publishing and release.
#include <chrono>

#include "TTSTestSupport.h"

using namespace tts_test;
using quorvel::LogLevel;

namespace {

class TTSSynthesis : public TTSFixture {
 protected:
  std::vector<std::string> latencyLines() const { return logs->linesStartingWith("[LATENCY]"); }
  // Plays whatever is published to its end and one block beyond ("finished").
  static void playOut(SherpaTTSNode& node) {
    Block block(1, 160);
    for (int i = 0; i < 100 && in(node).nextItem.load() != nullptr && !in(node).nextItem.load()->complete.load(); ++i)
      node.produce(block.bus());
    node.produce(block.bus());
  }
};

}  // namespace

TEST_F(TTSSynthesis, AsterisksAreRemovedEverywhere) {
  EXPECT_EQ(Internals::cleanTextForSynthesis("*bold* and **strong** *"), "bold and strong ");
  EXPECT_EQ(Internals::cleanTextForSynthesis("no marks\t_here_ #x"), "no marks\t_here_ #x");
  EXPECT_EQ(Internals::cleanTextForSynthesis("***"), "");

  makeSpeaker();
  node->synthesize("Say *this* now.");
  EXPECT_EQ(fake_engine::generatedTexts(), Texts{"Say this now."});
  EXPECT_EQ(events->startedTexts(), Texts{"Say this now."});
  ASSERT_EQ(latencyLines().size(), 1u);
  EXPECT_NE(latencyLines()[0].find(" text=\"Say this now.\""), std::string::npos);
}

TEST_F(TTSSynthesis, OneCallLogsInOrderAndPublishes) {
  makeSpeaker();
  logs->clear();
  const auto nowMs = [] {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  };
  const auto before = nowMs();
  node->synthesize("Hi.");
  const auto after = nowMs();
  auto entries = logs->entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0], std::make_pair(LogLevel::Debug, "[SherpaTTSNode] synthesize called, tts=valid, this=" +
                                                            address(&in(*node))));
  EXPECT_EQ(entries[1].first, LogLevel::Info);
  const std::string prefix = "[LATENCY][TTS_FIRST_SYNTHESIS] timestamp=";
  ASSERT_EQ(entries[1].second.rfind(prefix, 0), 0u);
  const std::string rest = entries[1].second.substr(prefix.size());
  const size_t space = rest.find(' ');
  ASSERT_NE(space, std::string::npos);
  const long long stamp = std::stoll(rest.substr(0, space));
  EXPECT_GE(stamp, before);
  EXPECT_LE(stamp, after);
  EXPECT_EQ(rest.substr(space), " text=\"Hi.\"");

  auto all = events->events();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].name, "synthesisStarted");
  const uint64_t sequence = in(*node).nextSequence.load() - 1;  // the one text spoken
  EXPECT_EQ(all[0].payload, QVAny(QVAnyMap{{"text", QVAny("Hi.")}, {"sequence", QVAny(static_cast<int64_t>(sequence))}}));

  GeneratedAudioItem* item = in(*node).nextItem.load();
  ASSERT_NE(item, nullptr);
  ASSERT_EQ(in(*node).generatedAudioItems.size(), 1u);
  EXPECT_EQ(in(*node).generatedAudioItems[0].get(), item);
  EXPECT_EQ(item->readPosition.load(), 0);
  EXPECT_FALSE(item->complete.load());
  EXPECT_EQ(item->samplesReady(), 1000);
  EXPECT_TRUE(item->generationDone.load());
}

TEST_F(TTSSynthesis, WithoutAVoiceNothingIsEmittedOrPublished) {
  Internals internals(nullptr, "xx");  // no voice and no node to emit through
  logs->clear();
  internals.synthesize("Anything.");
  EXPECT_EQ(logs->entries(),
            (Entries{
                {LogLevel::Debug, "[SherpaTTSNode] synthesize called, tts=null, this=" + address(&internals)},
                {LogLevel::Error, "[SherpaTTSNode] synthesize is called but TTS instance is not initialized."}}));
  EXPECT_EQ(internals.nextItem.load(), nullptr);
  EXPECT_EQ(fake_engine::calls().generate.load(), 0);
  EXPECT_TRUE(internals.firstSynthesis.load());
}

TEST_F(TTSSynthesis, TheLatencyLineMarksTheFirstSynthesisOfEachTurn) {
  auto node = makeNode();
  node->synthesize("One.");
  node->synthesize("Two.");
  EXPECT_EQ(latencyLines().size(), 1u);  // no end of playback in between
  playOut(*node);                        // "finished" re-arms it
  node->synthesize("Three.");
  EXPECT_EQ(latencyLines().size(), 2u);
  node->synthesize("Four.");
  EXPECT_EQ(latencyLines().size(), 2u);
  node->clearStreamingBuffer();  // and so does clearing the buffer
  node->synthesize("Five.");
  ASSERT_EQ(latencyLines().size(), 3u);
  EXPECT_NE(latencyLines()[2].find("text=\"Five.\""), std::string::npos);
}

TEST_F(TTSSynthesis, ThreeCallsInARowLeaveTwoItems) {
  auto node = makeNode();
  node->synthesize("A.");
  node->synthesize("B.");
  node->synthesize("C.");
  EXPECT_EQ(fake_engine::calls().generate.load(), 3);
  EXPECT_EQ(itemsFreed(), 1);  // A: neither published nor playing
  EXPECT_EQ(in(*node).generatedAudioItems.size(), 2u);
  EXPECT_EQ(in(*node).generatedAudioItems.back().get(), in(*node).nextItem.load());
}

TEST_F(TTSSynthesis, ThePlayingItemSurvivesUntilItIsNoLongerPlayed) {
  auto node = makeNode();
  node->synthesize("Playing.");
  node->produce(block.bus());
  GeneratedAudioItem* playing = in(*node).currentItem.load();
  ASSERT_NE(playing, nullptr);
  node->synthesize("Published.");
  node->synthesize("Newest.");
  // Kept: the playing one and the published one; "Published." was never heard.
  EXPECT_EQ(in(*node).generatedAudioItems.size(), 3u);
  EXPECT_EQ(in(*node).generatedAudioItems.front().get(), playing);
  node->produce(block.bus());  // switches to "Newest."
  node->synthesize("Last.");
  // "Playing." and "Published." are gone; kept: "Newest." (playing) and "Last.".
  EXPECT_EQ(itemsFreed(), 2);
  ASSERT_EQ(in(*node).generatedAudioItems.size(), 2u);
  EXPECT_EQ(in(*node).generatedAudioItems[0].get(), in(*node).currentItem.load());
  EXPECT_EQ(in(*node).generatedAudioItems[1].get(), in(*node).nextItem.load());
}

TEST_F(TTSSynthesis, ACallWhilePlayingReplacesTheUtterance) {
  makeSpeaker();
  node->synthesize("First.");
  node->produce(block.bus());
  node->synthesize("Second.");
  GeneratedAudioItem* second = in(*node).nextItem.load();
  node->produce(block.bus());
  EXPECT_EQ(in(*node).currentItem.load(), second);
  EXPECT_EQ(second->readPosition.load(), 160);
  playOut(*node);
  EXPECT_EQ(events->count("finished"), 1);  // the replaced one gets none
}

TEST_F(TTSSynthesis, NoResultFromTheEngineIsDroppedSilently) {
  for (bool throws : {false, true}) {
    fake_engine::reset();
    makeSpeaker();
    fake_engine::knobs().generateReturnsNull = !throws;
    fake_engine::knobs().generateThrows = throws;
    logs->clear();
    node->synthesize("Lost.");
    EXPECT_EQ(events->names(), Texts{"synthesisStarted"}) << throws;
    EXPECT_EQ(in(*node).nextItem.load(), nullptr) << throws;
    EXPECT_TRUE(in(*node).generatedAudioItems.empty()) << throws;
    if (throws) {  // an exception inside the engine is reported (BadInputTTS)
      EXPECT_EQ(logs->entries().back().first, LogLevel::Error);
    } else {
      EXPECT_EQ(logs->entries().back().first, LogLevel::Info);  // the latency line, no error after it
    }
  }
}

TEST_F(TTSSynthesis, AnEmptyTextIsSynthesisedLikeAnyOther) {
  makeSpeaker();
  node->synthesize("**");
  EXPECT_EQ(events->startedTexts(), Texts{""});
  EXPECT_EQ(fake_engine::generatedTexts(), Texts{""});
  EXPECT_NE(in(*node).nextItem.load(), nullptr);
}
