// Randomised properties of the streaming text buffer: "nothing lost, nothing
// doubled". Random token sequences drive the real node (with the engine test
// double) through appends, final tokens, clears and rendered blocks; the
// texts that reach the engine, followed by what the buffer still holds, must
// spell the tokens with only whitespace runs after cuts left out. A small
// reference model of the buffer and of playback, written here from the cut
// rules, also predicts every piece, every "finished" and the buffer after each
// step. A second property checks takePiece/findSplitPoint on random buffers
// against a brute-force reading of the cut rules.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <quorvel/Logger.h>

#include "TTSTestSupport.h"
#include "StreamingReference.h"
#include "tts/StreamingSplit.h"

using namespace tts_test;
using namespace streaming_reference;

namespace {

class Rng {
 public:
  explicit Rng(uint64_t seed) : engine_(seed) {}
  uint64_t below(uint64_t n) { return n == 0 ? 0 : engine_() % n; }
  uint64_t between(uint64_t lo, uint64_t hi) { return lo + below(hi - lo + 1); }
  bool percent(unsigned p) { return below(100) < p; }
  template <typename T>
  const T& pick(const std::vector<T>& v) {
    return v[below(v.size())];
  }

 private:
  std::mt19937_64 engine_;
};

ModelStats stats;

const std::vector<std::string> kPunctuation = {".", "!", "?", ",", ":", ";", "...", "..", ". ", "! ",
                                               "? ", ", ", ".\n", "…", "?!", ".)", "\"."};
const std::vector<std::string> kUtf8 = {"\xC3\xA9", "\xC3\xBC", "\xE2\x80\xA6", "\xE2\x82\xAC", "\xF0\x9F\x99\x82",
                                        "\xE4\xB8\xAD", "\xD0\x96"};

std::string letters(Rng& rng, std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) s += static_cast<char>('a' + rng.below(26));
  return s;
}

// Builds tokens; a multi-byte character may be split, its tail opening the
// following token.
class TokenSource {
 public:
  explicit TokenSource(Rng& rng) : rng_(rng) {}

  std::string next() {
    std::string token;
    token.swap(carry_);
    const uint64_t kind = rng_.below(100);
    if (kind < 5) {
      // empty (or only the carried tail)
    } else if (kind < 15) {
      const std::string ws = " \t\n\r";
      for (uint64_t i = rng_.between(1, 4); i > 0; --i) token += ws[rng_.below(ws.size())];
    } else if (kind < 55) {
      if (rng_.percent(60)) token += ' ';
      token += letters(rng_, rng_.between(1, 9));
      if (rng_.percent(10)) token += ' ';
    } else if (kind < 72) {
      token += rng_.pick(kPunctuation);
    } else if (kind < 82) {
      const std::string& c = rng_.pick(kUtf8);
      const std::size_t cut = rng_.percent(50) ? rng_.between(1, c.size() - 1) : c.size();
      token += c.substr(0, cut);
      carry_ = c.substr(cut);
    } else if (kind < 96) {
      // Arbitrary bytes, NUL and '*' excepted (the engine sees a C string
      // and synthesis drops every '*').
      for (uint64_t i = rng_.between(1, 10); i > 0; --i) {
        char c = '*';
        while (c == '*') c = static_cast<char>(rng_.between(1, 255));
        token += c;
      }
    } else {
      // A long run without spaces, sometimes with multi-byte characters.
      const std::size_t n = rng_.between(100, 400);
      while (token.size() < n) token += rng_.percent(90) ? letters(rng_, 1) : rng_.pick(kUtf8);
    }
    return token;
  }

 private:
  Rng& rng_;
  std::string carry_;
};

std::string printable(const std::string& s) {
  std::ostringstream out;
  out << '"';
  for (unsigned char c : s) {
    if (c == '\\' || c == '"') {
      out << '\\' << c;
    } else if (c >= 0x20 && c < 0x7F) {
      out << c;
    } else {
      static const char* hex = "0123456789ABCDEF";
      out << "\\x" << hex[c >> 4] << hex[c & 15];
    }
  }
  out << '"';
  return out.str();
}

class TTSStreamingProperty : public ::testing::Test {
 protected:
  void TearDown() override { fake_engine::reset(); }

  // Runs one random sequence; returns false (after reporting) on the first
  // violation.
  bool runSequence(uint64_t seed) {
    Rng rng(seed);
    TokenSource tokens(rng);
    fake_engine::reset();
    const int32_t samplesPerItem =
        rng.percent(3) ? 0 : static_cast<int32_t>(rng.percent(85) ? rng.between(50, 500) : rng.between(1, 2000));
    const uint32_t blockFrames = static_cast<uint32_t>(rng.pick(std::vector<uint64_t>{16, 64, 128, 160, 256, 512}));
    fake_engine::knobs().samplesPerText = samplesPerItem;

    auto node = std::make_unique<SherpaTTSNode>(QVAnyMap{});
    if (node->internalsForTesting().tts == nullptr)
      node->loadModel("/nonexistent/voice.onnx", "/nonexistent/tokens.txt", "/nonexistent/espeak-ng-data");
    if (node->internalsForTesting().tts == nullptr) {
      ADD_FAILURE() << "seed " << seed << ": no voice loaded";
      return false;
    }
    EventLog events(*node);
    Block block(1, blockFrames);
    ReferenceModel model(samplesPerItem, blockFrames, &stats, &fake_engine::sampleValue);
    bool dropsSpeech = false;  // a whole text or "stop" may cut pieces short

    std::ostringstream trace;
    trace << "samplesPerText=" << samplesPerItem << " blockFrames=" << blockFrames << "\n";
    // The segment since the last clear: its tokens and the pieces cut from it.
    std::string segmentText;
    std::size_t segmentFirstPiece = 0;
    std::vector<std::string> generated;
    std::set<std::size_t> wholeTexts;  // indices of whole texts among the pieces

    auto fail = [&](std::size_t step, const std::string& what) {
      ADD_FAILURE() << "seed " << seed << ", step " << step << ": " << what << "\nsteps:\n" << trace.str();
      return false;
    };
    auto checkSegment = [&](std::size_t step, const std::string& left) {
      std::vector<std::string> pieces;
      for (std::size_t i = segmentFirstPiece; i < generated.size(); ++i)
        if (!wholeTexts.count(i)) pieces.push_back(generated[i]);
      if (spellsText(segmentText, pieces, left)) return true;
      std::ostringstream out;
      out << "pieces and buffer do not spell the tokens\ntokens: " << printable(segmentText)
          << "\nbuffer: " << printable(left) << "\npieces:";
      for (const auto& p : pieces) out << "\n  " << printable(p);
      return fail(step, out.str());
    };

    const std::size_t steps = rng.between(5, 80);
    for (std::size_t step = 0; step <= steps; ++step) {
      const bool last = step == steps;
      const uint64_t op = rng.below(100);
      if (last || op < 4) {
        const std::string token = last && rng.percent(30) ? std::string() : tokens.next();
        const bool isFinal = !last || rng.percent(80);
        trace << (isFinal ? "  final " : "  append ") << printable(token) << "\n";
        node->appendStreamingText(token, isFinal);
        model.append(token, isFinal);
        segmentText += token;
      } else if (op < 7 && rng.percent(50)) {
        dropsSpeech = true;
        if (rng.percent(50)) {
          trace << "  stop\n";
          if (!checkSegment(step, streamingBuffer(*node))) return false;
          node->stop();
          model.stop();
          segmentText.clear();
          segmentFirstPiece = generated.size();
        } else {
          const std::string text = "Whole text " + std::to_string(step) + ".";
          trace << "  synthesize " << printable(text) << "\n";
          wholeTexts.insert(model.pieces.size());
          node->synthesize(text);
          model.synthesize(text);
        }
      } else if (op < 6) {
        trace << "  clear\n";
        const std::string left = streamingBuffer(*node);
        if (!checkSegment(step, left)) return false;
        node->clearStreamingBuffer();
        model.clear();
        segmentText.clear();
        segmentFirstPiece = generated.size();
      } else if (op < 66) {
        const std::string token = tokens.next();
        trace << "  append " << printable(token) << "\n";
        node->appendStreamingText(token, false);
        model.append(token, false);
        segmentText += token;
      } else {
        const uint64_t blocks = rng.percent(80) ? rng.between(1, 6) : rng.between(7, 60);
        trace << "  render " << blocks << "\n";
        for (uint64_t b = 0; b < blocks; ++b)
          if (!renderAndCompare(node.get(), model, block)) return fail(step, "rendered block " + std::to_string(b) +
                                                                                " differs from the expected audio");
      }

      if (static_cast<std::size_t>(fake_engine::calls().generate.load()) != generated.size())
        generated = fake_engine::generatedTexts();
      if (generated != model.pieces) {
        std::ostringstream out;
        out << "texts handed to the engine differ from the expected pieces\nengine:";
        for (const auto& p : generated) out << "\n  " << printable(p);
        out << "\nexpected:";
        for (const auto& p : model.pieces) out << "\n  " << printable(p);
        return fail(step, out.str());
      }
      for (const auto& p : generated)
        if (p.empty()) return fail(step, "an empty text was handed to the engine");
      const int finished = events.count("finished");
      if (finished != model.finished)
        return fail(step, "\"finished\" emitted " + std::to_string(finished) + " times, expected " +
                              std::to_string(model.finished));
      const std::string left = streamingBuffer(*node);
      if (left != model.buffer)
        return fail(step, "buffer " + printable(left) + ", expected " + printable(model.buffer));
    }
    if (!checkSegment(steps, streamingBuffer(*node))) return false;
    // Played out, every piece was heard whole and in order, unless a whole
    // text or "stop" dropped speech; each such piece got its "finished".
    for (int b = 0; b < 100000 && !model.idle(); ++b)
      if (!renderAndCompare(node.get(), model, block)) return fail(steps, "a block of the play-out differs");
    if (!model.idle()) return fail(steps, "speech never ended");
    node->produce(block.bus());
    model.renderBlock();
    if (events.count("finished") != model.finished) return fail(steps, "\"finished\" count differs after play-out");
    if (!dropsSpeech) {
      for (int64_t heard : model.heard())
        if (heard != model.samplesPerItem()) return fail(steps, "a piece was cut short");
      if (model.finished != static_cast<int>(model.pieces.size()))
        return fail(steps, "a piece played without its \"finished\"");
      ++stats.sequencesPlayedWhole;
    }
    return true;
  }

  // Renders one block on the node and on the model; true when they agree.
  static bool renderAndCompare(SherpaTTSNode* node, ReferenceModel& model, Block& block) {
    node->produce(block.bus());
    const std::vector<float> expected = model.renderBlock();
    for (std::size_t i = 0; i < expected.size(); ++i)
      if (std::fabs(block.at(0, static_cast<unsigned>(i)) - expected[i]) > 1e-6f) return false;
    return true;
  }

  testing_support::LogCapture quiet_{quorvel::LogLevel::None};
};

constexpr uint64_t kBaseSeed = 0x5eed0000;

TEST_F(TTSStreamingProperty, NothingLostNothingDoubledOverRandomTokenSequences) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  constexpr int kSequences = 2000;  // sanitizer builds run about 15 times slower
#else
  constexpr int kSequences = 20000;
#endif
  const auto start = std::chrono::steady_clock::now();
  int run = 0;
  while (run < kSequences && runSequence(kBaseSeed + static_cast<uint64_t>(run))) ++run;
  EXPECT_EQ(run, kSequences);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("[          ] %d sequences in %.3f s: %ld cuts at \"finished\", %ld cuts held while playing, "
              "%ld final tokens while playing, %ld pieces queued behind speech, %ld items cut off by a whole "
              "text, %ld stops, %ld sequences played out whole\n",
              run, seconds, stats.cutsAtFinished, stats.cutsHeldWhilePlaying, stats.finalsWhilePlaying,
              stats.piecesQueuedBehind, stats.itemsCutOff, stats.stops, stats.sequencesPlayedWhole);
  // The sequences reach the situations where text could be lost or doubled.
  if (run != kSequences) return;
  EXPECT_GT(stats.cutsAtFinished, kSequences / 10);
  EXPECT_GT(stats.cutsHeldWhilePlaying, kSequences / 10);
  EXPECT_GT(stats.finalsWhilePlaying, kSequences / 20);
  EXPECT_GT(stats.itemsCutOff, kSequences / 50);
  EXPECT_GT(stats.piecesQueuedBehind, kSequences / 20);
  EXPECT_GT(stats.stops, kSequences / 20);
  EXPECT_GT(stats.sequencesPlayedWhole, kSequences / 4);
}

std::string randomBuffer(Rng& rng) {
  static const std::vector<std::size_t> lengths = {0, 1, 49, 50, 51, 79, 80, 81, 149, 150, 151};
  std::size_t length = rng.percent(40) ? rng.pick(lengths) : rng.between(0, 320);
  // How often each kind of byte appears varies per buffer so that every rule
  // gets its turn.
  const unsigned sentence = static_cast<unsigned>(rng.pick(std::vector<uint64_t>{0, 0, 1, 3, 10}));
  const unsigned dots = static_cast<unsigned>(rng.pick(std::vector<uint64_t>{0, 2, 8}));
  const unsigned clause = static_cast<unsigned>(rng.pick(std::vector<uint64_t>{0, 0, 1, 4}));
  const unsigned space = static_cast<unsigned>(rng.pick(std::vector<uint64_t>{0, 0, 2, 15}));
  const unsigned otherWs = static_cast<unsigned>(rng.pick(std::vector<uint64_t>{0, 3, 20}));
  std::string b;
  while (b.size() < length) {
    const uint64_t r = rng.below(100);
    unsigned edge = sentence;
    if (r < edge) {
      b += ".!?"[rng.below(3)];
    } else if (r < (edge += dots)) {
      b += std::string(rng.between(1, 4), '.');
    } else if (r < (edge += clause)) {
      b += ",:;"[rng.below(3)];
    } else if (r < (edge += space)) {
      b += ' ';
    } else if (r < (edge += otherWs)) {
      b += " \t\n\r\f\v"[rng.below(6)];
    } else if (r < edge + 5) {
      b += rng.pick(kUtf8);
    } else {
      b += static_cast<char>('a' + rng.below(26));
    }
  }
  b.resize(length);
  return b;
}

TEST(TTSStreamingSplitProperty, TakePieceCutsAtTheRuleBreakAndLosesOnlyTrimmedWhitespace) {
  using quorvel::extensions::sherpa::findSplitPoint;
  using quorvel::extensions::sherpa::takePiece;
  constexpr int kBuffers = 20000;
  int cutCounts[4] = {0, 0, 0, 0};  // held, sentence/clause/space, whole
  for (int i = 0; i < kBuffers; ++i) {
    const uint64_t seed = kBaseSeed + 0x100000 + static_cast<uint64_t>(i);
    Rng rng(seed);
    const std::string original = randomBuffer(rng);
    SCOPED_TRACE("seed " + std::to_string(seed) + ", buffer " + printable(original));

    const std::size_t expected = referenceSplit(original);
    ASSERT_EQ(findSplitPoint(original), expected);

    std::string rest = original;
    const std::string piece = takePiece(rest);
    ASSERT_EQ(piece.size(), expected);
    if (expected == 0) {
      ASSERT_EQ(rest, original);
      ++cutCounts[0];
      continue;
    }
    ++cutCounts[expected == original.size() ? 2 : 1];
    // piece + skipped + rest == original, skipped made of ' ', '\t', '\n'
    // only, and the rest does not begin with one of those.
    ASSERT_EQ(original.compare(0, piece.size(), piece), 0);
    ASSERT_GE(original.size(), piece.size() + rest.size());
    const std::size_t skippedLength = original.size() - piece.size() - rest.size();
    ASSERT_EQ(original.compare(piece.size() + skippedLength, std::string::npos, rest), 0);
    for (std::size_t k = piece.size(); k < piece.size() + skippedLength; ++k) ASSERT_TRUE(isTrimmed(original[k]));
    if (!rest.empty()) {
      ASSERT_FALSE(isTrimmed(rest[0]));
    }
    // A piece shorter than the buffer ends at a break character.
    if (piece.size() < original.size()) {
      ASSERT_NE(std::string(".!?,:; ").find(piece.back()), std::string::npos);
    }
  }
  // The random buffers reach every outcome.
  EXPECT_GT(cutCounts[0], kBuffers / 20);
  EXPECT_GT(cutCounts[1], kBuffers / 20);
  EXPECT_GT(cutCounts[2], kBuffers / 200);
}

// The invariant checker itself must reject what it is there to catch.
TEST(TTSStreamingSplitProperty, TheSpellingCheckRejectsLostDoubledAndMisplacedText) {
  EXPECT_TRUE(spellsText("ab. \n cd", {"ab."}, "cd"));
  EXPECT_TRUE(spellsText("ab. cd", {"ab."}, " cd"));  // whitespace arriving after the cut stays
  EXPECT_TRUE(spellsText("ab. cd", {"ab.", " cd"}, ""));
  EXPECT_FALSE(spellsText("ab. cd", {"ab."}, "d"));            // lost
  EXPECT_FALSE(spellsText("ab. cd", {"ab.", "ab."}, " cd"));   // doubled
  EXPECT_FALSE(spellsText("ab. cd", {"ab"}, " cd"));           // a non-whitespace byte skipped
  EXPECT_FALSE(spellsText("ab.\r cd", {"ab."}, "cd"));         // '\r' is not trimmed
  EXPECT_FALSE(spellsText(" ab. cd", {"ab."}, "cd"));          // nothing is trimmed before the first piece
  EXPECT_FALSE(spellsText("ab. cd", {"cd"}, ""));              // out of order
  EXPECT_FALSE(spellsText("ab. cd", {"ab.", "cd"}, "cd"));     // rest doubled
}

}  // namespace
