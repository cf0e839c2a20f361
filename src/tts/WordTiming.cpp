#include "WordTiming.h"

#include <algorithm>
#include <cmath>

namespace quorvel::extensions::sherpa {

namespace {

// A digit is read as a short number word ("three", "seven").
constexpr double kDigitWeight = 4.0;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool isAsciiLetter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool isVowel(unsigned char c) {
  switch (c | 0x20) {
    case 'a': case 'e': case 'i': case 'o': case 'u': case 'y': return true;
    default: return false;
  }
}
bool isStop(char c) { return c == '.' || c == '!' || c == '?'; }
// Closing marks that follow a stop and stay with its sentence: ASCII quotes and
// brackets, and the UTF-8 closing quotes ’ ” » “ (German closes with “).
bool isClosingAscii(char c) { return c == '"' || c == '\'' || c == ')' || c == ']' || c == '}'; }

// Length in bytes of a closing mark at text[i], 0 if none.
size_t closingMarkLength(const std::string& text, size_t i) {
  if (i >= text.size()) return 0;
  if (isClosingAscii(text[i])) return 1;
  static const char* const kMarks[] = {"\xE2\x80\x99", "\xE2\x80\x9D", "\xE2\x80\x9C", "\xC2\xBB"};
  for (const char* mark : kMarks) {
    const std::string m(mark);
    if (text.compare(i, m.size(), m) == 0) return m.size();
  }
  return 0;
}

// The code point starting at text[i] (a lead byte), or 0 when malformed.
uint32_t codePointAt(const std::string& text, size_t i) {
  const auto b0 = static_cast<unsigned char>(text[i]);
  if (b0 < 0x80) return b0;
  const size_t length = b0 >= 0xF0 ? 4 : b0 >= 0xE0 ? 3 : b0 >= 0xC0 ? 2 : 0;
  if (length == 0 || i + length > text.size()) return 0;
  uint32_t c = b0 & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
  return c;
}

// A letter outside ASCII, roughly: Latin-1's letters and every code point of
// the other scripts, but not general punctuation and symbols (dashes, curly
// quotes, U+2000-U+2FFF) nor emoji (beyond U+FFFF), which are not spoken as
// sounds of the word.
bool isLetterBeyondAscii(uint32_t c) {
  if (c < 0xC0 || c == 0xD7 || c == 0xF7) return false;
  return !(c >= 0x2000 && c < 0x3000) && c < 0x10000;
}

// Lower-case letters the engine treats as continuing a sentence after ". ":
// ASCII and Latin-1's (ß à-ÿ but ÷).
bool startsLowerCase(const std::string& text, size_t i) {
  const uint32_t c = codePointAt(text, i);
  return (c >= 'a' && c <= 'z') || (c >= 0xDF && c <= 0xFF && c != 0xF7);
}

// Latin-1 letters spoken as vowels (accented a e i o u y, æ ø); the
// consonants ç ñ ß ð þ and the signs × ÷ are not.
bool isLatin1Vowel(uint32_t c) {
  if (c < 0xC0 || c > 0xFF) return false;
  const uint32_t lower = c | 0x20;
  return lower != 0xE7 && lower != 0xF1 && lower != 0xF0 && lower != 0xFE && lower != 0xF7 && c != 0xDF;
}

bool hasWordCharacter(const std::string& text, size_t begin, size_t end) {
  for (size_t i = begin; i < end; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (isAsciiLetter(c) || isDigit(c) || c >= 0x80) return true;
  }
  return false;
}

// True when the word text[begin, end) ends with a mark after which the voice
// pauses (a clause break, or a stop, possibly before closing marks).
bool endsWithPause(const std::string& text, size_t begin, size_t end) {
  size_t i = end;
  while (i > begin && isSpace(text[i - 1])) --i;
  while (i > begin) {
    const char c = text[i - 1];
    if (c == ',' || c == ';' || c == ':' || isStop(c)) return true;
    if (isClosingAscii(c) || (static_cast<unsigned char>(c) & 0xC0) == 0x80 ||
        static_cast<unsigned char>(c) >= 0xC0) {
      --i;  // step over closing marks (and the bytes of a UTF-8 one)
      continue;
    }
    return false;
  }
  return false;
}

}  // namespace

std::vector<size_t> wordEnds(const std::string& text) {
  std::vector<size_t> ends;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && isSpace(text[i])) ++i;
    if (i == text.size()) break;
    while (i < text.size() && !isSpace(text[i])) ++i;
    ends.push_back(i);
  }
  // Trailing white space belongs to the last word. White space is ASCII, so a
  // word end never falls inside a UTF-8 sequence.
  if (!ends.empty()) ends.back() = text.size();
  return ends;
}

std::vector<size_t> sentenceEnds(const std::string& text) {
  std::vector<size_t> ends;
  size_t sentenceStart = 0;
  // Ends a sentence at `end` unless what it holds has no word: the engine
  // speaks such a scrap with the next sentence.
  auto endSentence = [&](size_t end) {
    if (!hasWordCharacter(text, sentenceStart, end)) return;
    ends.push_back(end);
    sentenceStart = end;
  };
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '\n') {
      // A blank line (white space between two line feeds) ends a sentence at
      // the word before it.
      size_t j = i + 1;
      while (j < text.size() && (text[j] == ' ' || text[j] == '\t' || text[j] == '\r')) ++j;
      if (j < text.size() && text[j] == '\n') {
        size_t wordEnd = i;
        while (wordEnd > sentenceStart && isSpace(text[wordEnd - 1])) --wordEnd;
        const size_t next = text.find_first_not_of(" \t\n\r", j);
        if (next != std::string::npos) endSentence(wordEnd);
        i = j + 1;
        continue;
      }
      ++i;
      continue;
    }
    if (!isStop(c)) {
      ++i;
      continue;
    }
    // A run of stops, then closing marks.
    size_t j = i;
    bool onlyDots = true;
    for (; j < text.size() && isStop(text[j]); ++j) {
      if (text[j] != '.') onlyDots = false;
    }
    const size_t runLength = j - i;
    size_t closingEnd = j;
    for (size_t m; (m = closingMarkLength(text, closingEnd)) > 0;) closingEnd += m;
    const bool closed = closingEnd > j;
    i = closingEnd;
    if (closingEnd == text.size() || text.find_first_not_of(" \t\n\r", closingEnd) == std::string::npos) {
      // Closing marks after the last stop: the engine calls back once more,
      // with no samples.
      if (closed && hasWordCharacter(text, sentenceStart, closingEnd)) {
        ends.push_back(text.size());
        sentenceStart = text.size();
      }
      break;
    }
    if (!isSpace(text[closingEnd])) continue;  // "3.5", "a.b", "?!x"
    if (onlyDots) {
      if (runLength >= 3) continue;  // an ellipsis
      // ". lower-case" continues the sentence ("Mr. smith", "e.g. this"); a
      // line feed or closing marks in between end it all the same.
      size_t k = closingEnd;
      while (k < text.size() && (text[k] == ' ' || text[k] == '\t')) ++k;
      if (!closed && k < text.size() && text[k] != '\n' && text[k] != '\r' && startsLowerCase(text, k)) continue;
    }
    endSentence(closingEnd);
  }
  ends.push_back(text.size());
  return ends;
}

double wordWeight(const std::string& text, size_t begin, size_t end, bool vowelsCountTwice) {
  double weight = 0;
  for (size_t i = begin; i < end && i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (isAsciiLetter(c)) {
      weight += vowelsCountTwice && isVowel(c) ? 2 : 1;
    } else if (isDigit(c)) {
      weight += kDigitWeight;
    } else if (c >= 0xC0) {  // the lead byte of a code point outside ASCII
      const uint32_t cp = codePointAt(text, i);
      if (isLetterBeyondAscii(cp)) weight += vowelsCountTwice && isLatin1Vowel(cp) ? 2 : 1;
    }
  }
  return std::max(weight, 1.0);
}

void voicedStretch(const float* samples, int32_t n, int32_t* first, int32_t* last, float quietLevel) {
  int32_t a = 0;
  while (a < n && !(std::fabs(samples[a]) > quietLevel)) ++a;
  int32_t b = n;
  while (b > a && !(std::fabs(samples[b - 1]) > quietLevel)) --b;
  if (a >= b) {
    a = 0;
    b = n;
  }
  *first = a;
  *last = b;
}

std::vector<int32_t> estimateWordEnds(const std::string& text, const float* samples, int32_t n) {
  return estimateWordEnds(text, samples, n, WordTimingChoices{});
}

std::vector<int32_t> estimateWordEnds(const std::string& text, const float* samples, int32_t n,
                                      const WordTimingChoices& choices) {
  const std::vector<size_t> ends = wordEnds(text);
  std::vector<int32_t> result(ends.size(), 0);
  if (ends.empty() || n <= 0) return result;

  // Cumulative weight at each word's end: a word's own weight, plus the pause
  // after the word before it when that one ends a clause.
  std::vector<double> cumulative(ends.size());
  double total = 0;
  size_t begin = 0;
  for (size_t w = 0; w < ends.size(); ++w) {
    if (w > 0 && endsWithPause(text, w > 1 ? ends[w - 2] : 0, ends[w - 1])) total += choices.pauseWeight;
    total += wordWeight(text, begin, ends[w], choices.vowelsCountTwice);
    cumulative[w] = total;
    begin = ends[w];
  }

  int32_t first = 0, last = n;
  if (samples != nullptr) voicedStretch(samples, n, &first, &last, choices.quietLevel);
  const double span = static_cast<double>(last - first);
  for (size_t w = 0; w + 1 < ends.size(); ++w) {
    const double end = first + span * cumulative[w] / total;
    result[w] = static_cast<int32_t>(std::clamp(std::floor(end), 0.0, static_cast<double>(n)));
  }
  result.back() = n;
  return result;
}

}  // namespace quorvel::extensions::sherpa
