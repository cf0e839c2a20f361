// A paragraph streamed as small tokens into the node on the real engine
// while another thread renders 48 kHz stereo blocks, as a voice agent does
// with the tokens of a text generator.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "RealVoice.h"
#include "support/LogCapture.h"

using namespace real_voice;

namespace {

const std::vector<std::string> kSentences = {
    "The lighthouse keeper climbed the stairs every evening before dark.",
    "He trimmed the wick, wiped the glass and wound the heavy clock.",
    "Ships passed far out at sea, and none of them ever knew his name.",
    "One winter night, a storm broke the lamp, so he lit a fire instead.",
    "By morning the sea was calm again, and the gulls were back.",
    "A small boat came in at noon, bringing bread, letters and a new lamp.",
};

std::string paragraph() {
  std::string text;
  for (const auto& sentence : kSentences) text += (text.empty() ? "" : " ") + sentence;
  return text;
}

// Splits text into tokens of 3 to 6 bytes.
std::vector<std::string> tokensOf(const std::string& text, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<size_t> length(3, 6);
  std::vector<std::string> tokens;
  for (size_t pos = 0; pos < text.size();) {
    const size_t n = std::min(length(rng), text.size() - pos);
    tokens.push_back(text.substr(pos, n));
    pos += n;
  }
  return tokens;
}

// Renders 10 ms blocks at eight times real time on its own thread and counts
// the blocks that carry sound.
class Driver {
 public:
  explicit Driver(SherpaTTSNode& node) : node_(node), thread_([this] { run(); }) {}
  ~Driver() {
    stop_.store(true);
    thread_.join();
  }
  long audibleBlocks() const { return audibleBlocks_.load(); }
  bool allBlocksFilled() const { return allFilled_.load(); }

 private:
  void run() {
    StereoBlock block;
    auto next = std::chrono::steady_clock::now();
    while (!stop_.load()) {
      if (!node_.produce(block.bus())) allFilled_.store(false);
      if (*std::max_element(block.left().begin(), block.left().end()) > 0.01f) audibleBlocks_.fetch_add(1);
      next += std::chrono::microseconds(1250);
      std::this_thread::sleep_until(next);
    }
  }

  SherpaTTSNode& node_;
  std::atomic<bool> stop_{false};
  std::atomic<long> audibleBlocks_{0};
  std::atomic<bool> allFilled_{true};
  std::thread thread_;
};

struct Event {
  std::string name;
  std::string text;
  long audibleBlocks;  // the driver's count when the event arrived
};

class EventRecorder {
 public:
  EventRecorder(SherpaTTSNode& node, const Driver*& driver) : node_(node) {
    for (const char* name : {"finished", "synthesisStarted"}) {
      ids_.push_back(node_.addListener(name, [this, &driver](const std::string& event, const QVAny& payload) {
        std::string text;
        if (event == "synthesisStarted")
          text = QVAny::convert<std::string>(QVAny::convert<QVAnyMap>(payload).at("text"));
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back({event, text, driver != nullptr ? driver->audibleBlocks() : 0});
      }));
    }
  }
  ~EventRecorder() {
    for (auto id : ids_) node_.removeListener(id);
  }
  std::vector<Event> events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  // Every synthesis has reached its "finished".
  bool idle() const {
    int open = 0;
    for (const auto& e : events()) open += e.name == "synthesisStarted" ? 1 : -1;
    return open == 0;
  }

 private:
  SherpaTTSNode& node_;
  std::vector<EventEmitter::ListenerId> ids_;
  mutable std::mutex mutex_;
  std::vector<Event> events_;
};

bool waitFor(const std::function<bool()>& condition, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Idle means: every synthesis finished and the render thread saw no new
// sound for a while (a deferred piece starts on that thread right after a
// "finished").
bool waitUntilQuiet(const EventRecorder& events, const Driver& driver) {
  return waitFor(
      [&] {
        const long before = driver.audibleBlocks();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return events.idle() && driver.audibleBlocks() == before;
      },
      std::chrono::seconds(60));
}

}  // namespace

TEST(TTSStreamingRealEngine, AParagraphStreamedInSmallTokensIsSpokenOnceInOrder) {
  if (!voicePresent()) GTEST_SKIP() << "the demonstration voice is not in " << voiceDir();
  testing_support::LogCapture logs{LogLevel::Debug};
  auto node = std::make_unique<SherpaTTSNode>(QVAnyMap());
  AudioBusFormat format{48000, 2};
  ASSERT_TRUE(node->setBusFormat(format));

  const std::string text = paragraph();
  ASSERT_GE(text.size(), 380u);
  ASSERT_LE(text.size(), 420u);
  const Driver* driverForEvents = nullptr;
  EventRecorder recorder(*node, driverForEvents);
  {
    Driver driver(*node);
    driverForEvents = &driver;
    for (const auto& token : tokensOf(text, 2026)) {
      ASSERT_TRUE(node->callAction("appendStreamingText", QVAnyMap{{"token", QVAny(token)}, {"isFinal", QVAny(false)}})
                      .isOk());
      // About as fast as the voice speaks at the driver's pace, so pieces
      // are cut both by appends and by the ends of playback.
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    // Like a generator's end of stream: once the voice has caught up, the
    // last words go out with the final token.
    ASSERT_TRUE(waitUntilQuiet(recorder, driver));
    ASSERT_TRUE(node->callAction("appendStreamingText", QVAnyMap{{"token", QVAny("")}, {"isFinal", QVAny(true)}}).isOk());
    ASSERT_TRUE(waitUntilQuiet(recorder, driver));
    EXPECT_TRUE(driver.allBlocksFilled());
    driverForEvents = nullptr;
  }

  const std::vector<Event> events = recorder.events();
  ASSERT_GE(events.size(), 4u);
  std::string spoken;
  for (size_t i = 0; i < events.size(); i += 2) {
    ASSERT_EQ(events[i].name, "synthesisStarted") << "event " << i;
    ASSERT_LT(i + 1, events.size());
    ASSERT_EQ(events[i + 1].name, "finished") << "event " << i + 1 << " after \"" << events[i].text << "\"";
    EXPECT_GT(events[i + 1].audibleBlocks, events[i].audibleBlocks) << "no sound for \"" << events[i].text << "\"";
    // A piece can begin with the space of a token that arrived after a cut.
    const std::string& piece = events[i].text;
    spoken += (spoken.empty() ? "" : " ") + piece.substr(std::min(piece.find_first_not_of(' '), piece.size()));
  }
  EXPECT_EQ(events.back().name, "finished");
  RecordProperty("pieces", static_cast<int>(events.size() / 2));
  EXPECT_GE(events.size() / 2, 3u);
  // Each sentence once, in order, and nothing else.
  EXPECT_EQ(spoken, text);
  size_t from = 0;
  for (const auto& sentence : kSentences) {
    const size_t at = spoken.find(sentence, from);
    ASSERT_NE(at, std::string::npos) << sentence;
    EXPECT_EQ(spoken.find(sentence, at + 1), std::string::npos) << "spoken twice: " << sentence;
    from = at + sentence.size();
  }
  // How many pieces the render thread cut after a "finished" depends on the
  // machine's timing, so it is reported, not required.
  RecordProperty("piecesCutAfterPlayback",
                 static_cast<int>(logs.linesStartingWith("[SherpaTTSNode] Synthesizing buffered text after audio finished").size()));
  for (const auto& [level, line] : logs.entries()) EXPECT_GT(level, LogLevel::Warning) << line;  // no warnings or errors
}
