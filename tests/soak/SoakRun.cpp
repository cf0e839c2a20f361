#include "SoakRun.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <memory>
#include <random>
#include <set>
#include <thread>

#include "EventTrail.h"
#include "support/TestBlock.h"
#include "tts/TTSInternals.h"

namespace soak {

using quorvel::AudioBusFormat;
using quorvel::QVAny;
using quorvel::QVAnyMap;
using quorvel::extensions::sherpa::SherpaSTTNode;
using quorvel::extensions::sherpa::SherpaTTSNode;
using Clock = std::chrono::steady_clock;

long residentBytes() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * ::sysconf(_SC_PAGESIZE);
}

namespace {

const std::vector<std::string> kWords = {
    "hello", "world", "the",   "quick", "voice",  "reads", "every", "word",  "of",   "this",
    "long",  "reply", "while", "audio", "plays",  "on",    "and",   "then",  "stops", "again",
    "a",     "small", "model", "speaks", "slowly", "here", "now",   "we",    "test",  "it"};

class TextMaker {
 public:
  explicit TextMaker(std::mt19937& rng) : rng_(rng) {}

  std::string word() { return kWords[pick(kWords.size())]; }

  // A whole sentence of 3 to 10 words, now and then with *emphasis*.
  std::string sentence() {
    std::string text = word();
    text[0] = static_cast<char>(text[0] - 'a' + 'A');
    const std::size_t words = 2 + pick(8);
    for (std::size_t i = 0; i < words; ++i) {
      const std::string w = word();
      text += pick(8) == 0 ? " *" + w + "*" : " " + w;
      if (pick(6) == 0) text += ",";
    }
    static const char* const kEnds[] = {".", "!", "?", "...", ";"};
    return text + kEnds[pick(5)];
  }

  // The next token of an endless reply: each word with the space before it,
  // punctuation on its own.
  std::string token() {
    if (pending_.empty()) {
      const std::string s = sentence();
      std::size_t start = 0;
      for (std::size_t i = 0; i <= s.size(); ++i) {
        if (i == s.size() || s[i] == ' ' || s[i] == ',' || s[i] == '.' || s[i] == '!' || s[i] == '?' || s[i] == ';') {
          if (i > start) pending_.push_back(s.substr(start, i - start));
          start = i;
          if (i < s.size() && s[i] != ' ') {
            pending_.push_back(std::string(1, s[i]));
            start = i + 1;
          }
        }
      }
      std::reverse(pending_.begin(), pending_.end());
    }
    std::string t = pending_.back();
    pending_.pop_back();
    return t;
  }

  std::size_t pick(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_); }

 private:
  std::mt19937& rng_;
  std::vector<std::string> pending_;
};

class Soak {
 public:
  Soak(SherpaTTSNode& node, SherpaSTTNode* recognizer, const Options& options)
      : node_(node), in_(node.internalsForTesting()), recognizer_(recognizer), options_(options) {}

  Report run() {
    std::vector<uint64_t> listeners;
    listeners.push_back(node_.addListener("synthesisStarted", [this](const std::string&, const QVAny& payload) {
      const QVAnyMap fields = QVAny::convert<QVAnyMap>(payload);
      trail_.started(static_cast<uint64_t>(QVAny::convert<int64_t>(fields.at("sequence"))),
                     QVAny::convert<std::string>(fields.at("text")));
    }));
    listeners.push_back(node_.addListener("finished", [this](const std::string&, const QVAny&) {
      trail_.finished(lastPlaying_.load());
    }));
    if (recognizer_ != nullptr) {
      AudioBusFormat mono{16000, 1};
      recognizer_->setBusFormat(mono);
    }

    const auto start = Clock::now();
    std::thread driver([this] { drive(); });
    std::thread control([this, start] { act(start + options_.duration); });
    std::this_thread::sleep_until(start + options_.warmUp);
    report_.rssAfterWarmUp = residentBytes();
    control.join();

    // Flush what is left of the stream, then let playback drain.
    node_.appendStreamingText("", true);
    draining_.store(true);
    driver.join();
    if (recognizer_ != nullptr) decode();
    report_.rssAtEnd = residentBytes();

    for (auto id : listeners) node_.removeListener(id);
    // The driver has stopped: nothing frees segments any more.
    std::set<uint64_t> audible;
    for (const auto& item : in_.generatedAudioItems)
      if (item->samplesReady() > 0) audible.insert(item->sequence);
    const EventTrail::Result events = trail_.check(audible);
    report_.started = events.started;
    report_.finished = events.finished;
    report_.replaced = events.replaced;
    report_.eventFaults = events.faults;
    return report_;
  }

 private:
  // The host's audio thread: 10 ms blocks at real time, the format changed
  // between blocks every 1 to 3 seconds; once draining, as fast as it can
  // until nothing has played for half a second (or 60 s of audio).
  void drive() {
    static const AudioBusFormat kFormats[] = {{16000, 1}, {44100, 2}, {48000, 2}};
    std::mt19937 rng(options_.seed * 7919u);
    std::unique_ptr<test_kit::TestBlock> block;
    test_kit::TestBlock input(1, 160);  // the recognizer's 10 ms at 16000 Hz
    std::size_t inputPosition = 0;
    long blocksLeftInFormat = 0;
    long quietBlocks = 0;
    long drainBlocks = 0;
    auto next = Clock::now();
    for (;;) {
      if (blocksLeftInFormat-- <= 0) {
        AudioBusFormat format = kFormats[std::uniform_int_distribution<int>(0, 2)(rng)];
        node_.setBusFormat(format);
        block = std::make_unique<test_kit::TestBlock>(format.numberOfChannels, format.sampleRate / 100,
                                                     format.sampleRate);
        blocksLeftInFormat = std::uniform_int_distribution<long>(100, 300)(rng);
        ++report_.formatChanges;
      }
      node_.produce(block->bus());
      const auto* playing = in_.currentItem.load();
      lastPlaying_.store(playing != nullptr ? playing->sequence : 0);
      ++report_.blocks;
      if (!block->finiteAndAlike()) ++report_.badBlocks;
      if (recognizer_ != nullptr) {
        // The next 10 ms of the recognizer's audio, looping.
        const std::vector<float>& audio = options_.recognizerAudio;
        for (unsigned i = 0; i < 160; ++i, inputPosition = audio.empty() ? 0 : (inputPosition + 1) % audio.size())
          input.channel(0)[i] = audio.empty() ? 0.0f : audio[inputPosition];
        recognizer_->consume(input.bus());
      }

      if (draining_.load()) {
        // Only this thread frees segments now, so the published one can be read.
        auto* published = in_.nextItem.load();
        const bool playing = in_.currentItem.load() != nullptr || (published != nullptr && !published->complete.load());
        quietBlocks = playing ? 0 : quietBlocks + 1;
        if (quietBlocks >= 50 || ++drainBlocks >= 6000) return;
        continue;
      }
      next += std::chrono::milliseconds(10);
      const auto now = Clock::now();
      if (now < next) {
        std::this_thread::sleep_until(next);
      } else if (now - next > std::chrono::milliseconds(200)) {
        next = now;  // a long synthesis on this thread: go on from here, as a host would
      }
    }
  }

  // The application, in episodes: a streamed reply (now and then cleared
  // half-way), a whole text, a voice reload or a pause. The pauses after
  // each let some segments play to their end and cut others off.
  void act(Clock::time_point end) {
    std::mt19937 rng(options_.seed);
    TextMaker text(rng);
    nextDecode_ = Clock::now();
    while (Clock::now() < end) {
      const std::size_t roll = text.pick(100);
      ++report_.actions;
      if (roll < 50) {
        streamReply(text);
        pause(300 + text.pick(2700));
      } else if (roll < 85) {
        const std::string sentence = text.sentence();
        if (text.pick(2) == 0) {
          node_.callAction("synthesize", QVAnyMap{{"text", QVAny(sentence)}});
        } else {
          node_.synthesize(sentence);
        }
        pause(100 + text.pick(2900));
      } else if (roll < 90) {
        reload();
      } else {
        pause(500 + text.pick(1500));
      }
    }
  }

  // One to three sentences, token by token at 20 to 60 tokens a second.
  void streamReply(TextMaker& text) {
    const std::size_t tokens = 8 + text.pick(40);
    for (std::size_t i = 0; i < tokens; ++i) {
      const std::string token = text.token();
      const bool isFinal = i + 1 == tokens && text.pick(4) != 0;
      if (text.pick(2) == 0) {
        QVAnyMap params{{"token", QVAny(token)}};
        if (isFinal || text.pick(2) == 0) params = QVAnyMap{{"token", QVAny(token)}, {"isFinal", QVAny(isFinal)}};
        node_.callAction("appendStreamingText", params);
      } else {
        node_.appendStreamingText(token, isFinal);
      }
      ++report_.actions;
      if (text.pick(60) == 0) {
        node_.callAction("clearStreamingBuffer", QVAnyMap());
        return;
      }
      pause(16 + text.pick(34));
    }
  }

  void reload() {
    trail_.reloadBegun();  // the reload drops what is published, queued or playing
    const auto result = node_.callAction(
        "loadModel", QVAnyMap{{"modelPath", QVAny(options_.voice.model)},
                              {"tokensPath", QVAny(options_.voice.tokens)},
                              {"dataPath", QVAny(options_.voice.dataDir)}});
    ++report_.reloads;
    if (!result.isOk() || !QVAny::convert<bool>(result.value())) ++report_.failedReloads;
  }

  // Sleeps, decoding the recognizer's input every 300 ms meanwhile.
  void pause(std::size_t milliseconds) {
    const auto until = Clock::now() + std::chrono::milliseconds(milliseconds);
    while (Clock::now() < until) {
      if (recognizer_ != nullptr && Clock::now() >= nextDecode_) {
        decode();
        nextDecode_ = Clock::now() + std::chrono::milliseconds(300);
      }
      std::this_thread::sleep_until(recognizer_ != nullptr ? std::min(until, nextDecode_) : until);
    }
  }

  void decode() {
    const std::string text = recognizer_->processAudio();
    ++report_.decodes;
    if (!text.empty()) report_.recognizedText = text;
  }

  SherpaTTSNode& node_;
  SherpaTTSNode::Internals& in_;
  SherpaSTTNode* recognizer_;
  const Options& options_;
  EventTrail trail_;
  Report report_;
  std::atomic<uint64_t> lastPlaying_{0};  // sequence of the segment playing after the last block
  std::atomic<bool> draining_{false};
  Clock::time_point nextDecode_;
};

}  // namespace

Report run(SherpaTTSNode& node, SherpaSTTNode* recognizer, const Options& options) {
  return Soak(node, recognizer, options).run();
}

void print(const std::string& title, const Report& r) {
  const double mib = 1024.0 * 1024.0;
  std::printf("[soak] %s\n", title.c_str());
  std::printf("[soak]   resident memory after warm-up %.1f MiB, at end %.1f MiB (growth %+.2f MiB)\n",
              r.rssAfterWarmUp / mib, r.rssAtEnd / mib, (r.rssAtEnd - r.rssAfterWarmUp) / mib);
  std::printf("[soak]   %ld blocks, %ld formats, %ld actions, %ld reloads (%ld failed), %ld decodes\n", r.blocks,
              r.formatChanges, r.actions, r.reloads, r.failedReloads, r.decodes);
  std::printf("[soak]   %ld synthesisStarted, %ld finished, %ld replaced or dropped, %ld bad blocks\n", r.started,
              r.finished, r.replaced, r.badBlocks);
  std::printf("[soak]   recognised: \"%s\"\n", r.recognizedText.substr(0, 60).c_str());
  std::fflush(stdout);
}

}  // namespace soak
