// What the listener heard: the "spoken" events of each segment and the
// answer of "stop" (and of a whole text cutting in), checked against each
// other and against the text handed over, over random token streams with
// stops at random blocks.
#include <algorithm>
#include <map>
#include <random>

#include "TTSTestSupport.h"

using namespace tts_test;

namespace {

std::string withoutSpaces(std::string text) {
  std::erase_if(text, [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '*'; });
  return text;
}

std::string field(const QVAny& payload, const std::string& key) {
  const QVAnyMap map = QVAny::convert<QVAnyMap>(payload);
  return map.hasKey(key) ? QVAny::convert<std::string>(map.at(key)) : std::string();
}

int64_t sequenceOf(const QVAny& payload) {
  return QVAny::convert<int64_t>(QVAny::convert<QVAnyMap>(payload).at("sequence"));
}

// One segment as its events told it.
struct Told {
  std::string announced;  // "synthesisStarted" text
  std::string spoken;     // "spoken" texts joined
  bool finished = false;
  bool dropped = false;  // a "stop" reported it
};

class TTSSpoken : public TTSFixture {
 protected:
  // Listens to every event, pairing "finished" with the segment that played
  // before the block, and checks each "spoken" against the played samples.
  void listen() {
    node->addListener("synthesisStarted", [this](const std::string&, const QVAny& payload) {
      told[sequenceOf(payload)].announced = field(payload, "text");
    });
    node->addListener("spoken", [this](const std::string&, const QVAny& payload) {
      Told& segment = told[sequenceOf(payload)];
      if (segment.dropped || segment.finished) ++afterTheEnd;
      segment.spoken += field(payload, "text");
      // Never ahead: the word's estimated end has played.
      GeneratedAudioItem* item = in(*node).currentItem.load();
      const size_t index = wordIndex[sequenceOf(payload)]++;
      if (item == nullptr || item->sequence != static_cast<uint64_t>(sequenceOf(payload)) ||
          (!item->complete.load() &&
           item->words.endSample(index) > item->readPosition.load()))
        ++ahead;
    });
    node->addListener("finished", [this](const std::string&, const QVAny&) {
      ASSERT_NE(playingBeforeBlock, 0u);
      told[static_cast<int64_t>(playingBeforeBlock)].finished = true;
    });
  }
  void render(int blocks) {
    for (int b = 0; b < blocks; ++b) {
      GeneratedAudioItem* item = in(*node).currentItem.load();
      playingBeforeBlock = item != nullptr ? item->sequence : 0;
      node->produce(block.bus());
    }
  }
  // The texts of the segments that finished since `firstSequence`, in order.
  std::string finishedSince(int64_t firstSequence) const {
    std::string out;
    for (const auto& [sequence, segment] : told)
      if (sequence >= firstSequence && segment.finished) out += segment.announced;
    return out;
  }

  std::map<int64_t, Told> told;
  std::map<int64_t, size_t> wordIndex;
  uint64_t playingBeforeBlock = 0;
  int ahead = 0;
  int afterTheEnd = 0;
};

const char* const kWords[] = {"Hello ", "there, ", "this ", "is ", "a ", "streamed ", "answer. ", "Does ",
                              "it ", "work? ", "Yes! ", "*bold* ", "and\n", "more; ", "words "};

}  // namespace

// Random token streams, final tokens, whole texts and stops at random
// blocks: every
// segment's "spoken" texts join to a prefix of its text ending at a word,
// the whole text once it finished; none is early or after the segment
// ended; and each "stop" accounts for every byte handed over since the
// answer began: finished segments, then its heardText (the spoken words of
// the segment it cut), then its unheardText.
TEST_F(TTSSpoken, WhatWasHeardAddsUpOverRandomStreamsAndStops) {
  fake_engine::knobs().samplesPerChar = 40;  // about 2.5 ms of audio a byte
  int stopsInAWord = 0;    // stops that cut a segment after some of its words
  int segmentsWhole = 0;   // segments spoken to their end
  for (uint32_t seed = 1; seed <= 200; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    makeSpeaker(QVAnyMap{{"prepareAhead", QVAny(seed % 2 == 0)}});
    told.clear();
    wordIndex.clear();
    listen();
    std::string handed;  // since the answer began
    int64_t answerStart = in(*node).nextSequence.load();
    bool wholeTextInAnswer = false;  // the sums below hold for streamed answers
    int stops = 0;
    for (int step = 0; step < 80; ++step) {
      const uint32_t r = rng() % 20;
      if (r < 12) {
        const std::string token = kWords[rng() % std::size(kWords)];
        node->appendStreamingText(token, false);
        handed += token;
      } else if (r == 12) {
        node->appendStreamingText("", true);
      } else if (r == 15 && rng() % 3 == 0) {
        node->synthesize("A whole text cuts in here.");
        wholeTextInAnswer = true;
      } else if (r == 13 || r == 14) {
        const QVAnyMap answer = node->stop();
        ++stops;
        const std::string heard = QVAny::convert<std::string>(answer.at("heardText"));
        const std::string unheard = QVAny::convert<std::string>(answer.at("unheardText"));
        if (answer.hasKey("sequence")) {
          Told& cut = told[QVAny::convert<int64_t>(answer.at("sequence"))];
          EXPECT_EQ(heard, cut.spoken) << "heardText is not what the \"spoken\" events delivered";
          EXPECT_FALSE(cut.finished);
          cut.dropped = true;
          stopsInAWord += heard.empty() || unheard.empty() ? 0 : 1;
        } else {
          EXPECT_EQ(heard, "");
        }
        if (!wholeTextInAnswer) {
          EXPECT_EQ(withoutSpaces(finishedSince(answerStart) + heard + unheard), withoutSpaces(handed))
              << "finished: \"" << finishedSince(answerStart) << "\" heard: \"" << heard << "\" unheard: \""
              << unheard << "\"";
        }
        for (auto& [sequence, segment] : told)
          if (sequence >= answerStart && !segment.finished) segment.dropped = true;
        handed.clear();
        wholeTextInAnswer = false;
        answerStart = in(*node).nextSequence.load();
      } else {
        render(1 + static_cast<int>(rng() % 20));
      }
    }
    node->appendStreamingText("", true);
    render(2000);
    for (const auto& [sequence, segment] : told) {
      SCOPED_TRACE(sequence);
      EXPECT_EQ(segment.announced.compare(0, segment.spoken.size(), segment.spoken), 0)
          << "spoken \"" << segment.spoken << "\" is no prefix of \"" << segment.announced << "\"";
      const bool atWordEnd = segment.spoken.empty() || segment.spoken.size() == segment.announced.size() ||
                             std::isspace(static_cast<unsigned char>(segment.announced[segment.spoken.size()]));
      EXPECT_TRUE(atWordEnd) << segment.spoken;
      if (segment.finished) {
        EXPECT_EQ(segment.spoken, segment.announced);
      }
      segmentsWhole += segment.finished ? 1 : 0;
    }
    EXPECT_EQ(ahead, 0) << "a word was reported before its estimated end played";
    EXPECT_EQ(afterTheEnd, 0) << "a word was reported after its segment finished or was dropped";
  }
  // The runs did cut segments mid-way and play others out.
  EXPECT_GT(stopsInAWord, 20);
  EXPECT_GT(segmentsWhole, 150);
}

// A whole text answers what it cut off: the segment it cuts in on (heard so
// far, and the rest) and the streamed pieces waiting behind it, which it
// drops; text still held stays held.
TEST_F(TTSSpoken, AWholeTextAnswersWhatItCutOff) {
  fake_engine::knobs().samplesPerChar = 40;
  makeSpeaker();
  listen();
  node->appendStreamingText("The first piece is long enough to be cut off at its end. ", false);
  render(10);  // a few of its words are heard
  node->appendStreamingText("A second piece is queued behind it, right here. And held", true);
  ASSERT_FALSE(told.empty());
  const int64_t first = told.begin()->first;
  const QVAny result = node->synthesize("Cutting in.");
  const QVAnyMap answer = QVAny::convert<QVAnyMap>(result);
  ASSERT_TRUE(answer.hasKey("sequence"));
  EXPECT_EQ(QVAny::convert<int64_t>(answer.at("sequence")), first);
  const std::string heard = QVAny::convert<std::string>(answer.at("heardText"));
  EXPECT_EQ(heard, told[first].spoken);
  EXPECT_FALSE(heard.empty());
  EXPECT_EQ(withoutSpaces(heard + QVAny::convert<std::string>(answer.at("unheardText"))),
            withoutSpaces("The first piece is long enough to be cut off at its end. A second piece is queued behind "
                          "it, right here. And held"));
}

// "stop" with nothing played answers without a sequence; the held text is
// all unheard.
TEST_F(TTSSpoken, StopBeforeAnythingPlayedAnswersTheHeldText) {
  makeSpeaker();
  node->appendStreamingText("Held, with no break", false);
  const QVAnyMap answer = QVAny::convert<QVAnyMap>(node->callAction("stop", QVAnyMap()).value());
  EXPECT_FALSE(answer.hasKey("sequence"));
  EXPECT_EQ(QVAny::convert<std::string>(answer.at("heardText")), "");
  EXPECT_EQ(QVAny::convert<std::string>(answer.at("unheardText")), "Held, with no break");
}
