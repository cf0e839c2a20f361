// When each word of a segment has been heard: pure functions over a segment's
// text (byte offsets) and its 16 kHz audio. No engine calls; any thread.
//
// How the node uses them: the engine hands a segment's audio over one
// callback per sentence. If the number of callbacks equals
// sentenceEnds(text).size(), sentence k's words are timed within callback
// k's samples, estimateWordEnds(text[s_{k-1}, s_k), chunk k), shifted by the
// samples of the callbacks before it; otherwise the words are spread over the
// whole segment, estimateWordEnds(text, all samples). Every sentence boundary
// is a word end of the text, so the words of the sentences, taken in order,
// are exactly the words of the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quorvel::extensions::sherpa {

// Where each word of `text` ends: byte offsets e_1 < e_2 < ... < e_n, so that word i is
// text[e_{i-1}, e_i) (e_0 = 0). A word is a run of bytes other than ' ', '\t', '\n', '\r'; the
// first word takes the leading white space, every word ends right after its last non-space
// byte, except the last, which runs to the end of the text (trailing white space). Empty (or
// all white space) text: no words. Never splits inside a UTF-8 sequence.
std::vector<size_t> wordEnds(const std::string& text);

// Byte offsets where the engine's sentences end (the last is text.size()), so that the
// engine's k-th sentence callback carries the audio of text[s_{k-1}, s_k). Offsets are
// non-decreasing, and each but the last is a word end of `text`. The engine ends a sentence at
// '!' or '?' (or a run of them), and at a '.' or ".." unless a space is followed by a lower-case
// letter ("Hello. world" stays one sentence); "..." and "…" do not end one; closing quotes or
// brackets stay with the sentence they close; the stop needs white space (or the end) after it
// ("3.5", "a.b" do not end one). A blank line ends a sentence too; a single line feed does not.
// Commas, colons, semicolons, dashes and length never split. A sentence without a letter or
// digit joins the next. When the text ends with a stop and closing quotes or brackets, the
// engine calls back once more with no samples: the offsets then end with text.size() twice
// (an empty last sentence). Always at least one offset.
std::vector<size_t> sentenceEnds(const std::string& text);

// Estimated end sample of each word of `text` (wordEnds(text).size() values, non-decreasing,
// each in [0, n]) within `n` samples of 16 kHz audio that speak exactly that text: the words
// share the voiced stretch (leading and trailing quiet left out) in proportion to their
// wordWeight (letters), a pause weight added after a clause break. The last word ends at n (so a
// segment's words are all spoken when it has played to its end). Never throws; n == 0 or no
// words: all ends 0 / empty.
std::vector<int32_t> estimateWordEnds(const std::string& text, const float* samples, int32_t n);

// Magnitude below which audio counts as quiet.
inline constexpr float kQuietLevel = 0.01f;

// What the node adds to an estimated end before it counts the word as heard: estimates
// scatter around the true ends, and a word announced before it was heard is the worse
// fault. 40 ms cuts the words announced early from about 35% to 23% while the median
// error stays within 120 ms (bench/word_timing_bench.cpp); ending early in only 5% of
// words would take 160 ms, at a median error of 190 ms.
inline constexpr int32_t kWordEndMarginSamples = 640;  // 40 ms at 16 kHz

// The choices estimateWordEnds makes, apart so that the benchmark can weigh
// them against each other; the defaults are what the node uses, the best of
// those measured by bench/word_timing_bench.cpp: letters alone time words
// better than letters plus vowels (English spelling writes many vowels it
// does not sound, "make", "each"), a pause of two letters after a clause
// break gives a lower median error than none, four or six, and any quiet
// level from 0.001 to 0.03 gives about the same ends (0.1 cuts into speech);
// 0.01 is also the level below which the engine counts audio as silence when
// it shortens long pauses.
struct WordTimingChoices {
  bool vowelsCountTwice = false;  // true: letters plus vowels
  double pauseWeight = 2.0;       // added before a word that follows a clause break or a stop
  float quietLevel = kQuietLevel;
};
std::vector<int32_t> estimateWordEnds(const std::string& text, const float* samples, int32_t n,
                                      const WordTimingChoices& choices);

// The length measure a word text[begin, end) is timed by: its letters (vowels twice when
// `vowelsCountTwice`), a digit as a short spoken number, marks nothing; at least 1, so every
// word takes some time.
double wordWeight(const std::string& text, size_t begin, size_t end, bool vowelsCountTwice = false);

// The voiced stretch [*first, *last) of `samples`: from the first to just after the last sample
// whose magnitude exceeds `quietLevel`; the whole [0, n) when none does.
void voicedStretch(const float* samples, int32_t n, int32_t* first, int32_t* last, float quietLevel = kQuietLevel);

}  // namespace quorvel::extensions::sherpa
