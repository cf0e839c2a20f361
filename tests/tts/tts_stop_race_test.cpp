// "stop" raced against everything else, round after round: appends, final
// tokens, whole texts, clearing, and listeners that call back (append, speak,
// stop) from the thread that announces. A render thread plays all along and
// records, after each block, the sequence of the segment it plays. The rule
// checked: nothing numbered before a "stop" is heard after the fade that
// follows its return, and no event about it is emitted by a call that began
// after it returned (a block of produce, an action; an emission decided
// while "stop" runs may still be delivered as it returns). Whole texts hold
// the same line for the pieces they cut in on.
//
// QS_STOP_RACE_ROUNDS sets the number of rounds (default 3000, half of them
// with "prepareAhead").
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "TTSTestSupport.h"

using namespace tts_test;
using quorvel::extensions::sherpa::RenderGate;

namespace {

int roundsFromEnvironment() {
  const char* value = std::getenv("QS_STOP_RACE_ROUNDS");
  return value != nullptr ? std::max(2, std::atoi(value)) : 3000;
}

// The stop bound in force when the call running on this thread began: an
// event emitted inside that call must not be about anything below it.
thread_local uint64_t tBoundAtCallStart = 0;

void raise(std::atomic<uint64_t>& value, uint64_t atLeast) {
  for (uint64_t seen = value.load(); seen < atLeast && !value.compare_exchange_weak(seen, atLeast);) {
  }
}

class StopRace {
 public:
  explicit StopRace(SherpaTTSNode& node) : node_(node), in_(node.internalsForTesting()) {
    node_.addListener("synthesisStarted", [this](const std::string&, const QVAny& payload) { onStarted(payload); });
    node_.addListener("finished", [this](const std::string&, const QVAny&) { onFinished(); });
  }

  // Runs the rounds with the render thread going all along.
  void run(int rounds, uint32_t seed) {
    std::thread renderer([this] { render(); });
    std::mt19937 rng(seed);
    for (int round = 0; round < rounds; ++round) {
      const uint32_t a = rng();
      const uint32_t b = rng();
      std::thread control([this, a] { speak(a); });
      std::thread stopper([this, b] {
        std::this_thread::sleep_for(std::chrono::microseconds(b % 300));
        stopAndNote();
      });
      control.join();
      stopper.join();
    }
    rendering_ = false;
    renderer.join();
  }

  std::atomic<int> stops{0};
  std::atomic<int> announced{0};
  std::atomic<int> finished{0};
  std::atomic<long> blocksHeard{0};
  std::atomic<int> violations{0};
  std::string firstViolation;  // under mutex_

 private:
  // A stretch of a streamed answer, with breaks, and now and then a final
  // token, a whole text or a clear.
  void speak(uint32_t r) {
    static const char* const kWords[] = {"Tokens ", "arrive ", "one ", "by ", "one, ", "and ", "sentences ",
                                         "end. ", "Questions ", "too? "};
    std::mt19937 rng(r);
    const int tokens = 5 + static_cast<int>(rng() % 30);
    for (int t = 0; t < tokens; ++t) call([&] { node_.appendStreamingText(kWords[rng() % 10], false); });
    switch (rng() % 6) {
      case 0:
        call([&] { node_.appendStreamingText("The end.", true); });
        break;
      case 1:
        call([&] { node_.synthesize("Whole text that cuts in on the pieces."); });
        break;
      case 2:
        call([&] { node_.clearStreamingBuffer(); });
        break;
      default:
        break;
    }
  }

  // Runs one call of the node, noting the bound in force as it begins.
  template <typename Call>
  void call(Call&& f) {
    const uint64_t outer = tBoundAtCallStart;
    tBoundAtCallStart = stoppedBefore_.load();
    f();
    tBoundAtCallStart = outer;
  }

  void stopAndNote() {
    const uint64_t before = in_.nextSequence.load();
    call([&] { node_.stop(); });
    raise(stoppedBefore_, before);
    const long returnedAt = blocksDone_.load();
    std::lock_guard<std::mutex> lock(mutex_);
    // The block in flight may have begun before the return; the next one
    // fades out what plays; from the one after, nothing older is heard.
    pendingBounds_.push_back({returnedAt + 2, before});
    stops.fetch_add(1);
  }

  // Any thread: checks the announcement and, now and then, calls back.
  void onStarted(const QVAny& payload) {
    const QVAnyMap fields = QVAny::convert<QVAnyMap>(payload);
    const uint64_t sequence = static_cast<uint64_t>(QVAny::convert<int64_t>(fields.at("sequence")));
    announced.fetch_add(1);
    if (sequence < tBoundAtCallStart) violation("announced by a call begun after \"stop\" returned", sequence);
    if (QVAny::convert<std::string>(fields.at("text")).rfind("Whole", 0) == 0) {
      std::lock_guard<std::mutex> lock(mutex_);
      wholeTexts_.insert(sequence);
    }
    switch (sequence % 17) {
      case 3:
        call([&] { node_.appendStreamingText(" A listener adds a clause, and ends it.", sequence % 2 == 0); });
        break;
      case 7:
        stopAndNote();
        break;
      case 11:
        call([&] { node_.synthesize("Whole text from a listener."); });
        break;
      default:
        break;
    }
  }

  // Render thread, inside produce: the segment that ended is the one the
  // last block played.
  void onFinished() {
    finished.fetch_add(1);
    if (playingAfterLastBlock_ != 0 && playingAfterLastBlock_ < tBoundAtCallStart)
      violation("\"finished\" in a block begun after \"stop\" returned", playingAfterLastBlock_);
  }

  void render() {
    Block block(1, 160);
    uint64_t bound = 0;      // sequences below it must not be heard any more
    uint64_t wholeSeen = 0;  // the newest whole text heard: pieces before it are cut off
    while (rendering_.load()) {
      call([&] { node_.produce(block.bus()); });
      uint64_t sequence = 0;
      {
        // A pass keeps the release scans off the segment while it is read.
        RenderGate::RenderPass pass(in_.gate);
        if (GeneratedAudioItem* item = in_.currentItem.load(); item != nullptr) sequence = item->sequence;
      }
      const long number = blocksDone_.fetch_add(1) + 1;
      bool whole = false;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        while (!pendingBounds_.empty() && pendingBounds_.front().first <= number) {
          bound = std::max(bound, pendingBounds_.front().second);
          pendingBounds_.pop_front();
        }
        whole = wholeTexts_.count(sequence) > 0;
      }
      if (sequence != 0) {
        blocksHeard.fetch_add(1);
        if (sequence < bound) violation("heard after the fade that follows \"stop\"", sequence);
        if (sequence < wholeSeen) violation("heard after a whole text cut in on it", sequence);
        if (whole) wholeSeen = std::max(wholeSeen, sequence);
      }
      playingAfterLastBlock_ = sequence;
      std::this_thread::yield();
    }
  }

  void violation(const char* what, uint64_t sequence) {
    if (violations.fetch_add(1) > 0) return;
    std::lock_guard<std::mutex> lock(mutex_);
    firstViolation = std::string(what) + ": segment " + std::to_string(sequence);
  }

  SherpaTTSNode& node_;
  Internals& in_;
  std::atomic<bool> rendering_{true};
  std::atomic<long> blocksDone_{0};
  // The highest "nextSequence before the call" of every stop that returned.
  std::atomic<uint64_t> stoppedBefore_{0};
  uint64_t playingAfterLastBlock_ = 0;  // render thread only
  std::mutex mutex_;
  std::deque<std::pair<long, uint64_t>> pendingBounds_;  // (first block it holds for, bound)
  std::set<uint64_t> wholeTexts_;
};

}  // namespace

using TTSStopRace = TTSFixture;

TEST_F(TTSStopRace, NothingFromBeforeAStopIsHeardOrAnnouncedAfterItReturned) {
  const int rounds = roundsFromEnvironment();
  fake_engine::knobs().samplesPerText = 480;      // three blocks
  fake_engine::knobs().samplesPerCallback = 160;  // published with its first "sentence"
  logs.reset();  // one capture at a time: the sink is the logger's only one
  logs = std::make_unique<testing_support::LogCapture>(quorvel::LogLevel::Warning);
  const auto start = std::chrono::steady_clock::now();
  for (bool prepareAhead : {false, true}) {
    SCOPED_TRACE(prepareAhead ? "prepareAhead" : "pieces cut at the end of playback");
    auto speaker = makeNode(QVAnyMap{{"prepareAhead", QVAny(prepareAhead)}});
    StopRace race(*speaker);
    race.run(rounds / 2, prepareAhead ? 7u : 3u);
    EXPECT_EQ(race.violations.load(), 0) << "first: " << race.firstViolation;
    // The rounds raced something: speech was announced, heard, finished and
    // stopped (how much is heard depends on how much the render thread gets
    // of a busy machine).
    EXPECT_GT(race.announced.load(), rounds / 4);
    EXPECT_GT(race.blocksHeard.load(), 0);
    EXPECT_GT(race.finished.load(), 0);
    EXPECT_GE(race.stops.load(), rounds / 2);
    std::printf("[ INFO     ] %s: %d rounds, %d stops, %d announced, %d finished, %ld blocks heard\n",
                prepareAhead ? "prepareAhead" : "cut at the end", rounds / 2, race.stops.load(), race.announced.load(),
                race.finished.load(), race.blocksHeard.load());
  }
  std::printf("[ INFO     ] %d rounds in %.1f s\n", rounds,
              std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
}
