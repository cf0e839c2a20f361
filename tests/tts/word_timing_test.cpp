// Word timing: where words and the engine's sentences end in a segment's
// text, and when each word ends in its audio.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tts/WordTiming.h"

using namespace quorvel::extensions::sherpa;

namespace {

// The pieces text[e_{i-1}, e_i) of a list of ends.
std::vector<std::string> pieces(const std::string& text, const std::vector<size_t>& ends) {
  std::vector<std::string> out;
  size_t begin = 0;
  for (size_t e : ends) {
    out.push_back(text.substr(begin, e - begin));
    begin = e;
  }
  return out;
}

std::string joined(const std::vector<std::string>& parts) {
  std::string s;
  for (const auto& p : parts) s += p;
  return s;
}

// Audio of `n` samples: quiet (0) outside [voiceBegin, voiceEnd), a loud
// alternating signal inside.
std::vector<float> audio(int32_t n, int32_t voiceBegin, int32_t voiceEnd, float quiet = 0.0f) {
  std::vector<float> a(n, quiet);
  for (int32_t i = voiceBegin; i < voiceEnd; ++i) a[i] = (i % 2) ? 0.5f : -0.5f;
  return a;
}

}  // namespace

TEST(WordTiming, WordPiecesConcatenateToTheTextAndKeepSpacesAsTheRulesSay) {
  const std::string text = "  Hello,\tworld!\n\r  How are\xC2\xA0you?  ";
  const auto ends = wordEnds(text);
  const auto parts = pieces(text, ends);
  EXPECT_EQ(joined(parts), text);
  // Leading white space goes with the first word, trailing with the last; a
  // non-breaking space (two UTF-8 bytes) is part of a word.
  EXPECT_EQ(parts, (std::vector<std::string>{"  Hello,", "\tworld!", "\n\r  How", " are\xC2\xA0you?  "}));
  for (size_t i = 1; i < ends.size(); ++i) EXPECT_LT(ends[i - 1], ends[i]);

  // UTF-8 words: every piece is whole code points.
  const std::string german = "Schöne Grüße über Äpfel — ja";
  for (const auto& p : pieces(german, wordEnds(german))) {
    EXPECT_NE(static_cast<unsigned char>(p[0]) & 0xC0, 0x80) << p;  // no continuation byte first
    const auto last = static_cast<unsigned char>(p.back());
    EXPECT_FALSE(last >= 0xC0) << p;  // no lead byte last
  }
  EXPECT_EQ(wordEnds(german).size(), 6u);

  EXPECT_TRUE(wordEnds("").empty());
  EXPECT_TRUE(wordEnds(" \t\r\n ").empty());
  EXPECT_EQ(wordEnds("one"), (std::vector<size_t>{3}));
}

TEST(WordTiming, SentencesEndWhereTheEngineEndsThem) {
  // Each case's split as the engine's callbacks show it (one callback per
  // piece; "" is the engine's extra callback without samples).
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"Hello world.", {"Hello world."}},
      {"Hello world. How are you? I am fine! Thanks",
       {"Hello world.", " How are you?", " I am fine!", " Thanks"}},
      {"One, two; three: four.", {"One, two; three: four."}},
      {"Wait... What is that?", {"Wait... What is that?"}},
      {"Hi.. There.", {"Hi..", " There."}},
      {"Mr. Smith went home. Mr. smith did not.", {"Mr.", " Smith went home.", " Mr. smith did not."}},
      {"It costs 3.50 dollars, or 1,000.", {"It costs 3.50 dollars, or 1,000."}},
      {"He said \"Stop.\" Then he left.", {"He said \"Stop.\"", " Then he left."}},
      {"He said \"Stop!\"", {"He said \"Stop!\"", ""}},
      {"\"Hello.\" world", {"\"Hello.\"", " world"}},  // closed: ends even before lower case
      {"What?! Really?!", {"What?!", " Really?!"}},
      {"First.Second.", {"First.Second."}},
      {"Hello.\nworld", {"Hello.", "\nworld"}},
      {"Line one\nline two", {"Line one\nline two"}},
      {"Line one\n \nline two", {"Line one", "\n \nline two"}},
      {"Ends here.  \n", {"Ends here.  \n"}},
      {"Hi. . Bye.", {"Hi.", " . Bye."}},
      {"Schöne Grüße. Über Äpfel. ähnlich", {"Schöne Grüße.", " Über Äpfel. ähnlich"}},
      {"Er sagte: \xE2\x80\x9EHalt.\xE2\x80\x9C Dann ging er.",
       {"Er sagte: \xE2\x80\x9EHalt.\xE2\x80\x9C", " Dann ging er."}},
  };
  for (const auto& [text, expected] : cases) {
    const auto ends = sentenceEnds(text);
    EXPECT_EQ(pieces(text, ends), expected) << text;
    // Every boundary but the last is a word end, so the sentences' words are
    // the text's words.
    const auto words = wordEnds(text);
    for (size_t k = 0; k + 1 < ends.size(); ++k) {
      if (ends[k] == text.size()) continue;
      EXPECT_NE(std::find(words.begin(), words.end(), ends[k]), words.end()) << text << " @" << ends[k];
    }
  }
  EXPECT_EQ(sentenceEnds(""), (std::vector<size_t>{0}));
  EXPECT_EQ(sentenceEnds("..."), (std::vector<size_t>{3}));
}

TEST(WordTiming, WordsShareTheVoicedStretchInProportionToTheirWeight) {
  // Over a voiced stretch of 3000 samples after 1000 quiet ones, the first
  // word ends at its share of the stretch.
  const std::string text = "bab babab";
  const double w1 = wordWeight(text, 0, 3), w2 = wordWeight(text, 3, 9);
  ASSERT_GT(w2, w1);
  const auto a = audio(5000, 1000, 4000);
  const auto ends = estimateWordEnds(text, a.data(), 5000);
  ASSERT_EQ(ends.size(), 2u);
  EXPECT_NEAR(ends[0], 1000 + 3000 * w1 / (w1 + w2), 1.0);
  EXPECT_EQ(ends[1], 5000);  // the last word ends with the audio, trailing quiet and all

  // Letters count alike (vowels twice on request), digits more, marks nothing.
  EXPECT_EQ(wordWeight("aa", 0, 2), wordWeight("bb", 0, 2));
  EXPECT_GT(wordWeight("aa", 0, 2, true), wordWeight("bb", 0, 2, true));
  EXPECT_GT(wordWeight("7", 0, 1), wordWeight("b", 0, 1));
  EXPECT_EQ(wordWeight("b,\"", 0, 3), wordWeight("b", 0, 1));
  EXPECT_EQ(wordWeight("b\xE2\x80\x94\xF0\x9F\x99\x82", 0, 8), wordWeight("b", 0, 1));  // dash, emoji
  EXPECT_EQ(wordWeight("\xE2\x80\x94", 0, 3), 1.0);  // at least 1: every word takes some time
  EXPECT_EQ(wordWeight("ä", 0, 2, true), wordWeight("a", 0, 1, true));
}

TEST(WordTiming, QuietBelowTheLevelIsTrimmedAndAClauseBreakAddsAPause) {
  // Low noise below the quiet level counts as quiet; the same text over the
  // same voiced stretch gets the same ends whatever the quiet around it.
  const std::string text = "one two three four";
  const auto clean = audio(8000, 2000, 6000);
  const auto noisy = audio(8000, 2000, 6000, kQuietLevel * 0.5f);
  const auto a = estimateWordEnds(text, clean.data(), 8000);
  EXPECT_EQ(estimateWordEnds(text, noisy.data(), 8000), a);
  EXPECT_GE(a[0], 2000);
  EXPECT_LE(a[2], 6000);

  int32_t first = -1, last = -1;
  voicedStretch(noisy.data(), 8000, &first, &last);
  EXPECT_EQ(first, 2000);
  EXPECT_EQ(last, 6000);
  const auto silent = audio(100, 0, 0);
  voicedStretch(silent.data(), 100, &first, &last);  // all quiet: the whole
  EXPECT_EQ(first, 0);
  EXPECT_EQ(last, 100);

  // A comma after "one" puts a pause before "two": the words share the
  // stretch with it, so "one" ends earlier, and "two" still after "one".
  const auto withComma = estimateWordEnds("one, two three four", clean.data(), 8000);
  EXPECT_LT(withComma[0], a[0]);
  EXPECT_GT(withComma[1], withComma[0]);
}

TEST(WordTiming, EndsAreMonotonicBoundedAndDegenerateInputIsSafe) {
  const std::string text = "A. b, ccc — 42 ?? d\xC3\xA9j\xC3\xA0 \xF0\x9F\x99\x82 e";
  for (int32_t n : {1, 2, 7, 16000}) {
    const auto a = audio(n, n / 4, n / 2 + 1);
    const auto ends = estimateWordEnds(text, a.data(), n);
    ASSERT_EQ(ends.size(), wordEnds(text).size());
    for (size_t i = 0; i < ends.size(); ++i) {
      EXPECT_GE(ends[i], 0);
      EXPECT_LE(ends[i], n);
      if (i > 0) {
        EXPECT_LE(ends[i - 1], ends[i]);
      }
    }
    EXPECT_EQ(ends.back(), n);
  }
  const float one = 0.5f;
  EXPECT_EQ(estimateWordEnds("a b c", &one, 0), (std::vector<int32_t>{0, 0, 0}));
  EXPECT_EQ(estimateWordEnds("a b c", &one, -5), (std::vector<int32_t>{0, 0, 0}));
  EXPECT_TRUE(estimateWordEnds("", &one, 1).empty());
  EXPECT_TRUE(estimateWordEnds("  \n", &one, 1).empty());
  EXPECT_EQ(estimateWordEnds("a b", nullptr, 10).back(), 10);  // no samples to trim: the whole stretch
}
