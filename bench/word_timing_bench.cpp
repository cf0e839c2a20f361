// word_timing_bench: how close the estimated word ends come to reference word
// ends, with the demonstration voice and its real-cost variant.
//
// Usage: word_timing_bench [--margin-ms=M] [--results=FILE]
//   --margin-ms  the margin added to every estimate in the second row of
//                each voice (default: the recommended kWordEndMarginSamples, 40 ms)
//   --results    also append the tables to FILE
//
// The estimate is made as the node makes it: the text is generated with the
// engine's per-sentence callback; when the number of callbacks equals
// sentenceEnds(text).size(), each sentence's words are timed within its own
// callback's samples (estimateWordEnds), shifted by the samples before it;
// otherwise the words are spread over the whole segment.
//
// The reference end of a word is where its sound stops when the voice speaks
// the sentence only up to that word: the prefix of the sentence up to the
// word is generated on its own, and the reference is its length less its
// trailing quiet (below the same quiet level), plus the samples of the
// sentences before. Error = estimate - reference (positive: late, the word
// is announced after it was heard; negative: early, announced before).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "models/ModelPaths.h"
#include "tts/WordTiming.h"

namespace {

namespace fs = std::filesystem;
using namespace quorvel::extensions::sherpa;

constexpr double kSamplesPerMs = 16.0;

// 24 texts of 2 to 28 words: short commands, questions, lists, numbers,
// quotes, an abbreviation, an ellipsis, and five texts of several sentences.
const std::vector<std::string> kTexts = {
    "Hello there.",
    "Turn the volume down.",
    "Good morning, everyone.",
    "Thanks a lot!",
    "The quick brown fox jumps over the lazy dog.",
    "Please turn left at the next corner.",
    "I will call you back in ten minutes.",
    "Could you tell me where the nearest train station is?",
    "Yes. No. Maybe later.",
    "Mr. Smith arrived at the office at nine o'clock this morning.",
    "The meeting has been moved to Thursday afternoon, so please update your calendar.",
    "It costs 3.50 pounds, which is cheaper than I expected.",
    "She said \"Thank you\" and left the room quietly.",
    "Wait... are you sure about that?",
    "Beautiful pictures of old churches near the river were painted by a woman who lived in the little "
    "house beside the bridge for most of her long life.",
    "Good morning. The weather is getting worse, so take the bus home. I will call you tonight.",
    "Your order has shipped! It should arrive within two to three business days.",
    "First, open the settings menu; then choose the network tab: it is the second one.",
    "Remember to buy milk, eggs, bread, butter, cheese and apples on your way home tonight.",
    "The temperature tomorrow will reach twenty four degrees in the afternoon.",
    "Do you want to hear the news, the weather, or your messages?",
    "I am sorry, I did not catch that. Could you say it again, please?",
    "According to the latest report, sales increased by twelve percent in the second quarter, while "
    "costs remained roughly the same as last year.",
    "The library opens at eight in the morning and closes at six in the evening on weekdays, but it "
    "stays closed on Sundays and public holidays throughout the year.",
};

// One text as a voice speaks it: the callbacks' audio, and the reference end
// of every word in samples of the whole.
struct Spoken {
  std::vector<std::vector<float>> chunks;
  std::vector<size_t> sentences;  // sentenceEnds(text)
  bool matched = false;           // one callback per sentence
  std::vector<double> reference;
  size_t prefixes = 0, samePrefixes = 0;  // prefixes generated; those whose sound equals the sentence's start
  bool lastOfSentence(size_t word, const std::vector<size_t>& words) const {
    return std::find(sentences.begin(), sentences.end(), words[word]) != sentences.end();
  }
};

int32_t collectChunk(const float* samples, int32_t n, void* arg) {
  static_cast<std::vector<std::vector<float>>*>(arg)->emplace_back(samples, samples + n);
  return 1;
}

std::vector<std::vector<float>> generateChunks(const bench::DirectVoice& voice, const std::string& text) {
  std::vector<std::vector<float>> chunks;
  const SherpaOnnxGeneratedAudio* audio =
      SherpaOnnxOfflineTtsGenerateWithCallbackWithArg(voice.tts, text.c_str(), 0, 1.0f, collectChunk, &chunks);
  if (audio != nullptr) SherpaOnnxDestroyOfflineTtsGeneratedAudio(audio);
  return chunks;
}

// Where the sound of `audio` stops.
double voicedEnd(const std::vector<float>& audio) {
  int32_t first = 0, last = 0;
  voicedStretch(audio.data(), static_cast<int32_t>(audio.size()), &first, &last);
  return audio.empty() ? 0.0 : last;
}

Spoken speak(const bench::DirectVoice& voice, const std::string& text) {
  Spoken s;
  s.chunks = generateChunks(voice, text);
  s.sentences = sentenceEnds(text);
  s.matched = s.chunks.size() == s.sentences.size();
  const std::vector<size_t> words = wordEnds(text);
  if (!s.matched) {
    // The reference still times each word within its text; the prefixes are
    // then prefixes of the whole text.
    for (size_t end : words) s.reference.push_back(voicedEnd(voice.generate(text.substr(0, end))));
    return s;
  }
  double offset = 0;
  size_t begin = 0, w = 0;
  for (size_t k = 0; k < s.sentences.size(); ++k) {
    for (; w < words.size() && words[w] <= s.sentences[k]; ++w) {
      const bool whole = words[w] == s.sentences[k];
      const std::vector<float> prefix =
          whole ? s.chunks[k] : voice.generate(text.substr(begin, words[w] - begin));
      const double end = voicedEnd(prefix);
      s.reference.push_back(offset + end);
      if (!whole) {
        // Where the prefix is spoken exactly as the sentence starts, the
        // reference is exact up to the quiet level's cut.
        ++s.prefixes;
        const auto& chunk = s.chunks[k];
        if (end <= chunk.size() && std::equal(prefix.begin(), prefix.begin() + static_cast<long>(end), chunk.begin()))
          ++s.samePrefixes;
      }
    }
    offset += s.chunks[k].size();
    begin = s.sentences[k];
  }
  return s;
}

// The node's estimate of every word's end in samples of the whole.
std::vector<double> estimate(const std::string& text, const Spoken& s, const WordTimingChoices& choices) {
  std::vector<double> out;
  if (!s.matched) {
    std::vector<float> all;
    for (const auto& c : s.chunks) all.insert(all.end(), c.begin(), c.end());
    for (int32_t e : estimateWordEnds(text, all.data(), static_cast<int32_t>(all.size()), choices))
      out.push_back(e);
    return out;
  }
  double offset = 0;
  size_t begin = 0;
  for (size_t k = 0; k < s.sentences.size(); ++k) {
    const std::string sentence = text.substr(begin, s.sentences[k] - begin);
    const auto& chunk = s.chunks[k];
    for (int32_t e : estimateWordEnds(sentence, chunk.data(), static_cast<int32_t>(chunk.size()), choices))
      out.push_back(offset + e);
    offset += chunk.size();
    begin = s.sentences[k];
  }
  return out;
}

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const double index = p * (v.size() - 1);
  const size_t lo = static_cast<size_t>(std::floor(index));
  const size_t hi = std::min(lo + 1, v.size() - 1);
  return v[lo] + (v[hi] - v[lo]) * (index - lo);
}

struct Errors {
  std::vector<double> signedMs;  // estimate - reference
  std::vector<double> absMs;
  std::vector<double> absMidMs;  // words that do not end a sentence
  size_t early = 0;
};

// Errors over all texts with `marginMs` added to every estimate (at most the
// segment's end).
Errors measure(const std::vector<Spoken>& spoken, const WordTimingChoices& choices, double marginMs) {
  Errors e;
  for (size_t t = 0; t < kTexts.size(); ++t) {
    const Spoken& s = spoken[t];
    const std::vector<size_t> words = wordEnds(kTexts[t]);
    double total = 0;
    for (const auto& c : s.chunks) total += c.size();
    const std::vector<double> est = estimate(kTexts[t], s, choices);
    for (size_t w = 0; w < est.size(); ++w) {
      const double at = std::min(est[w] + marginMs * kSamplesPerMs, total);
      const double err = (at - s.reference[w]) / kSamplesPerMs;
      e.signedMs.push_back(err);
      e.absMs.push_back(std::fabs(err));
      if (!s.lastOfSentence(w, words)) e.absMidMs.push_back(std::fabs(err));
      if (err < 0) ++e.early;
    }
  }
  return e;
}

std::string row(const std::string& label, const Errors& e) {
  std::ostringstream r;
  r << "| " << label << " | " << e.absMs.size() << " | " << bench::fmt("%.0f", percentile(e.absMs, 0.5)) << " | "
    << bench::fmt("%.0f", percentile(e.absMs, 0.95)) << " | " << bench::fmt("%.0f", percentile(e.absMidMs, 0.5))
    << " | " << bench::fmt("%.0f", percentile(e.absMidMs, 0.95)) << " | "
    << bench::fmt("%.1f", 100.0 * e.early / std::max<size_t>(1, e.absMs.size())) << "% | "
    << bench::fmt("%.0f", percentile(e.signedMs, 0.05)) << " | " << bench::fmt("%.0f", percentile(e.signedMs, 0.5))
    << " |\n";
  return r.str();
}

const char* kHeader =
    "| Estimate | Words | Median abs. error (ms) | 95th pct. | Median, words inside a sentence | 95th pct. | "
    "Early | 5th pct. of signed error (ms) | Median signed |\n|---|---|---|---|---|---|---|---|---|\n";

}  // namespace

int main(int argc, char** argv) {
  double marginMs = kWordEndMarginSamples / kSamplesPerMs;
  std::string resultsPath;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--margin-ms=", 0) == 0) marginMs = std::stod(a.substr(12));
    else if (a.rfind("--results=", 0) == 0) resultsPath = a.substr(10);
    else {
      std::fprintf(stderr, "usage: word_timing_bench [--margin-ms=M] [--results=FILE]\n");
      return 2;
    }
  }

  const fs::path files = executableDirectory() / "files";
  const fs::path light = fs::path("en_GB") / "vits-piper-en_GB-southern_english_female-low";
  const fs::path heavy = fs::path("en_GB") / "vits-piper-en_GB-southern_english_female-low-real-cost";
  const std::string tokens = (files / light / "tokens.txt").string();
  const std::string dataDir = (files / light / "espeak-ng-data").string();
  const std::vector<std::pair<std::string, std::string>> models = {
      {"demonstration", (files / light / "en_GB-southern_english_female-low.with_runtime_opt.ort").string()},
      {"real-cost",
       (files / heavy / "en_GB-southern_english_female-low-real-cost.with_runtime_opt.ort").string()}};

  size_t wordCount = 0, minWords = 1000, maxWords = 0;
  for (const auto& t : kTexts) {
    const size_t n = wordEnds(t).size();
    wordCount += n;
    minWords = std::min(minWords, n);
    maxWords = std::max(maxWords, n);
  }

  std::ostringstream md;
  md << "## Word timing: estimated against reference word ends\n\n"
     << kTexts.size() << " texts of " << minWords << " to " << maxWords << " words (" << wordCount
     << " words). Error = estimate - reference; early: the estimate is before the reference. \"Inside a "
        "sentence\": words that do not end a sentence (a sentence's last word is estimated at the end of its "
        "audio, trailing pause included).\n\n";

  std::vector<std::vector<Spoken>> perVoice;
  for (const auto& [name, path] : models) {
    const bench::DirectVoice voice(path, tokens, dataDir);
    if (voice.tts == nullptr) {
      std::fprintf(stderr, "word_timing_bench: the engine did not load %s (run scripts/models/generate.sh)\n",
                   path.c_str());
      return 1;
    }
    std::vector<Spoken> spoken;
    size_t fallbacks = 0;
    for (const std::string& text : kTexts) {
      spoken.push_back(speak(voice, text));
      if (!spoken.back().matched) {
        ++fallbacks;
        std::fprintf(stderr, "%s: %zu callbacks, %zu sentences: %s\n", name.c_str(), spoken.back().chunks.size(),
                     spoken.back().sentences.size(), text.c_str());
      }
    }
    size_t prefixes = 0, samePrefixes = 0;
    for (const Spoken& s : spoken) {
      prefixes += s.prefixes;
      samePrefixes += s.samePrefixes;
    }
    std::fprintf(stderr, "%s voice done\n", name.c_str());
    md << "### " << name << " voice\n\nCallback count differed from the sentence count (whole-segment "
       << "fallback) for " << fallbacks << " of " << kTexts.size() << " texts. Prefixes whose sound, up to "
       << "the reference end, equals the start of their sentence's audio sample for sample: " << samePrefixes
       << " of " << prefixes << ".\n\n"
       << kHeader << row("as estimated", measure(spoken, {}, 0))
       << row("+ " + bench::fmt("%.0f", marginMs) + " ms margin", measure(spoken, {}, marginMs)) << "\n";
    perVoice.push_back(std::move(spoken));
  }

  // The choices weighed against each other, with the demonstration voice, no margin.
  md << "### Choices (demonstration voice, no margin)\n\n" << kHeader;
  const WordTimingChoices chosen;
  struct Variant {
    std::string label;
    WordTimingChoices choices;
  };
  std::vector<Variant> variants = {{"chosen: letters, pause 2, quiet 0.01", chosen}};
  for (bool vowels : {false, true}) {
    for (double pause : {0.0, 2.0, 4.0, 6.0}) {
      WordTimingChoices c;
      c.vowelsCountTwice = vowels;
      c.pauseWeight = pause;
      variants.push_back({std::string(vowels ? "letters + vowels" : "letters") + ", pause " +
                              bench::fmt("%.0f", pause),
                          c});
    }
  }
  for (float quiet : {0.001f, 0.003f, 0.03f, 0.1f}) {
    WordTimingChoices c;
    c.quietLevel = quiet;
    variants.push_back({"quiet level " + bench::fmt("%.3f", quiet), c});
  }
  for (const Variant& v : variants) md << row(v.label, measure(perVoice[0], v.choices, 0));

  // What a margin buys: fewer early words for a larger error.
  md << "\n### Margins (demonstration voice, chosen estimate)\n\n" << kHeader;
  for (double m : {0.0, 40.0, 80.0, 120.0, 160.0, 200.0, 240.0}) {
    md << row("+ " + bench::fmt("%.0f", m) + " ms", measure(perVoice[0], chosen, m));
  }

  bool sameAudio = true;
  for (size_t t = 0; t < kTexts.size(); ++t) sameAudio = sameAudio && perVoice[0][t].chunks == perVoice[1][t].chunks;
  md << "\nThe real-cost voice's audio equals the demonstration voice's sample for sample: "
     << (sameAudio ? "yes" : "no") << ".\n";

  std::printf("\n%s", md.str().c_str());
  if (!resultsPath.empty()) {
    std::ofstream out(resultsPath, std::ios::app);
    out << "\n" << md.str();
  }
  return 0;
}
