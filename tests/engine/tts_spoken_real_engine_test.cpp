// "spoken" and "stop"'s answer with the real engine and the demonstration
// voice, whose sentences come from the engine one callback each: a streamed
// answer is stopped at several points, and each time the finished segments,
// the heard text and the unheard text spell what was handed over, the heard
// text is what the "spoken" events said, and no word came before its
// estimated end had played.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "RealVoice.h"
#include "support/TestBlock.h"
#include "tts/TTSInternals.h"

using namespace real_voice;

namespace {

std::string withoutSpaces(std::string text) {
  std::erase_if(text, [](char c) { return c == ' ' || c == '\n'; });
  return text;
}

std::string textOf(const QVAny& payload, const char* key = "text") {
  const QVAnyMap map = QVAny::convert<QVAnyMap>(payload);
  return map.hasKey(key) ? QVAny::convert<std::string>(map.at(key)) : std::string();
}

}  // namespace

TEST(TTSSpokenRealEngine, WhatWasHeardSpellsTheAnswerWhereverItIsStopped) {
  if (!voicePresent()) GTEST_SKIP() << "the demonstration voice is not in " << voiceDir();
  const std::string answer =
      "The keeper climbed the stairs every evening. He trimmed the wick, and wiped the glass! Ships passed far out "
      "at sea; none of them knew his name. Was he lonely? Not at all.";
  for (int stopAfterBlocks : {15, 60, 140, 260, 420}) {
    SCOPED_TRACE(stopAfterBlocks);
    SherpaTTSNode node(QVAnyMap{{"prepareAhead", QVAny(true)}});
    auto& in = node.internalsForTesting();
    std::map<int64_t, std::string> announced, spoken;
    std::map<int64_t, bool> finished;
    uint64_t playingBeforeBlock = 0;
    int ahead = 0;
    node.addListener("synthesisStarted", [&](const std::string&, const QVAny& payload) {
      announced[QVAny::convert<int64_t>(QVAny::convert<QVAnyMap>(payload).at("sequence"))] = textOf(payload);
    });
    node.addListener("spoken", [&](const std::string&, const QVAny& payload) {
      const int64_t sequence = QVAny::convert<int64_t>(QVAny::convert<QVAnyMap>(payload).at("sequence"));
      GeneratedAudioItem* item = in.currentItem.load();
      const size_t word = static_cast<size_t>(std::count(spoken[sequence].begin(), spoken[sequence].end(), ' ') +
                                              (spoken[sequence].empty() || spoken[sequence][0] == ' ' ? 0 : 1));
      if (item == nullptr || (!item->complete.load() && item->words.endSample(word) > item->readPosition.load()))
        ++ahead;
      spoken[sequence] += textOf(payload);
    });
    node.addListener("finished", [&](const std::string&, const QVAny&) {
      finished[static_cast<int64_t>(playingBeforeBlock)] = true;
    });
    test_kit::TestBlock block(1, 160, 16000);
    auto render = [&](int blocks) {
      for (int b = 0; b < blocks; ++b) {
        GeneratedAudioItem* item = in.currentItem.load();
        playingBeforeBlock = item != nullptr ? item->sequence : 0;
        node.produce(block.bus());
      }
    };
    // Tokens of a few bytes, a block apart, then the final token.
    for (size_t i = 0; i < answer.size(); i += 6) {
      node.appendStreamingText(answer.substr(i, 6), false);
      render(1);
    }
    node.appendStreamingText("", true);
    render(stopAfterBlocks);
    const QVAnyMap result = node.stop();
    std::string finishedText;
    for (const auto& [sequence, text] : announced)
      if (finished[sequence]) finishedText += text;
    const std::string heard = QVAny::convert<std::string>(result.at("heardText"));
    const std::string unheard = QVAny::convert<std::string>(result.at("unheardText"));
    EXPECT_EQ(withoutSpaces(finishedText + heard + unheard), withoutSpaces(answer))
        << "finished \"" << finishedText << "\", heard \"" << heard << "\", unheard \"" << unheard << "\"";
    if (result.hasKey("sequence")) {
      EXPECT_EQ(heard, spoken[QVAny::convert<int64_t>(result.at("sequence"))]);
    }
    for (const auto& [sequence, text] : spoken) EXPECT_EQ(announced[sequence].compare(0, text.size(), text), 0);
    EXPECT_EQ(ahead, 0);
    render(20);
    EXPECT_TRUE(block.silent()) << "speech after the stop";
  }
}
