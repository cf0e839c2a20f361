// Where streamed text is cut: the split rules and the taking of a piece.
#include <gtest/gtest.h>

#include <string>

#include "tts/StreamingSplit.h"

using namespace quorvel::extensions::sherpa;

namespace {

// `n` bytes of letters and single spaces, without punctuation.
std::string words(size_t n) {
  std::string s;
  while (s.size() < n) s += (s.size() % 6 == 5) ? ' ' : 'w';
  return s;
}

std::string letters(size_t n) { return std::string(n, 'x'); }

}  // namespace

TEST(TTSStreamingSplit, CharacterClasses) {
  for (char c : std::string(".!?")) EXPECT_TRUE(isSentenceEnd(c)) << c;
  for (char c : std::string(",:;")) EXPECT_TRUE(isClauseBreak(c)) << c;
  for (char c : std::string(",:; a\n-")) EXPECT_FALSE(isSentenceEnd(c)) << c;
  for (char c : std::string(".!? a\n-")) EXPECT_FALSE(isClauseBreak(c)) << c;
}

TEST(TTSStreamingSplit, EllipsisDots) {
  const std::string s = "a. b.. c... d.";
  EXPECT_FALSE(isEllipsisDot(s, 0));   // not a dot
  EXPECT_FALSE(isEllipsisDot(s, 1));   // lone dot
  EXPECT_TRUE(isEllipsisDot(s, 4));    // first of two
  EXPECT_TRUE(isEllipsisDot(s, 5));    // second of two
  EXPECT_TRUE(isEllipsisDot(s, 9));    // middle of three
  EXPECT_FALSE(isEllipsisDot(s, 13));  // lone dot at the end
  EXPECT_FALSE(isEllipsisDot(s, 99));  // past the end
  EXPECT_TRUE(isEllipsisDot("..", 0));
}

TEST(TTSStreamingSplit, SentenceRuleFrom50Bytes) {
  EXPECT_EQ(findSplitPoint(letters(39) + "."), 0u);
  const std::string at49 = letters(20) + "." + letters(28);
  ASSERT_EQ(at49.size(), 49u);
  EXPECT_EQ(findSplitPoint(at49), 0u);
  EXPECT_EQ(findSplitPoint(letters(20) + "." + letters(29)), 21u);
  // The rightmost sentence end wins, "!" and "?" included.
  EXPECT_EQ(findSplitPoint("One. Two! Three? " + letters(40)), 16u);
  EXPECT_EQ(findSplitPoint(letters(60) + "?"), 61u);
}

TEST(TTSStreamingSplit, EllipsesDoNotEndSentences) {
  EXPECT_EQ(findSplitPoint("Well... " + letters(50)), 0u);       // 58 bytes, only an ellipsis
  EXPECT_EQ(findSplitPoint("Yes. Well... " + letters(50)), 4u);   // the lone dot, left of the ellipsis
  EXPECT_EQ(findSplitPoint("Well... then, " + letters(70)), 13u);  // 84 bytes
}

TEST(TTSStreamingSplit, ClauseRuleFrom80Bytes) {
  const std::string at79 = letters(30) + "," + letters(48);
  ASSERT_EQ(at79.size(), 79u);
  EXPECT_EQ(findSplitPoint(at79), 0u);
  EXPECT_EQ(findSplitPoint(letters(30) + "," + letters(49)), 31u);
  EXPECT_EQ(findSplitPoint(letters(10) + ":" + letters(10) + ";" + letters(10) + "," + letters(60)), 33u);
  // A sentence end beats a later clause break.
  EXPECT_EQ(findSplitPoint(letters(10) + "." + letters(10) + "," + letters(70)), 11u);
}

TEST(TTSStreamingSplit, SpaceRuleFrom150BytesThenTheWhole) {
  EXPECT_EQ(findSplitPoint(words(149)), 0u);
  const std::string w150 = words(150);
  EXPECT_EQ(findSplitPoint(w150), w150.rfind(' ') + 1);
  EXPECT_EQ(findSplitPoint(letters(150)), 150u);
  EXPECT_EQ(findSplitPoint(letters(80) + "\t" + letters(80)), 161u);  // a tab is no space
  EXPECT_EQ(findSplitPoint(""), 0u);
}

TEST(TTSStreamingSplit, TakingAPieceTrimsOnlyTheRest) {
  std::string buffer = "First one here. Second one here!  \t\nAnd the start of a third";
  ASSERT_GE(buffer.size(), 50u);
  EXPECT_EQ(takePiece(buffer), "First one here. Second one here!");
  EXPECT_EQ(buffer, "And the start of a third");

  std::string onlyBlank = letters(55) + ". \n\t ";
  EXPECT_EQ(takePiece(onlyBlank), letters(55) + ".");
  EXPECT_EQ(onlyBlank, "");

  std::string carriage = letters(55) + ".\r\n next";
  EXPECT_EQ(takePiece(carriage), letters(55) + ".");
  EXPECT_EQ(carriage, "\r\n next");  // a carriage return stops the trimming

  std::string held = "  Too short.";
  EXPECT_EQ(takePiece(held), "");
  EXPECT_EQ(held, "  Too short.");
}
