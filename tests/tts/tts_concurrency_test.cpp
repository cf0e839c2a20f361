// The control side against the audio thread: teardown, reloads and format
// changes while produce runs, and a randomised stress run.
#include <chrono>
#include <optional>
#include <random>
#include <thread>

#include "TTSTestSupport.h"

using namespace tts_test;
using quorvel::LogLevel;
using quorvel::extensions::sherpa::RenderGate;

using TTSConcurrency = TTSFixture;

namespace {
enum class Teardown { Reload, Destroy, FormatChange };
}  // namespace

// The audio thread is held inside produce by a "finished" listener while the
// control thread starts a teardown; the teardown must not finish (nor free
// anything) before that produce has returned.
TEST_F(TTSConcurrency, TeardownWaitsForARunningProduce) {
  for (Teardown kind : {Teardown::Reload, Teardown::Destroy, Teardown::FormatChange}) {
    SCOPED_TRACE(static_cast<int>(kind));
    fake_engine::reset();
    fake_engine::knobs().samplesPerText = 160;
    SherpaTTSNode* node = makeNode().release();
    const bool converted = kind == Teardown::FormatChange;
    ASSERT_TRUE(setFormat(*node, converted ? 48000 : 16000, 1));
    node->appendStreamingText("Buffered text, long enough to be cut at its end once audio stops.", false);
    node->synthesize("Playing.");

    std::atomic<bool> inside{false};
    std::atomic<bool> leaving{false};
    node->addListener("finished", [&](const std::string&, const QVAny&) {
      inside.store(true);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      leaving.store(true);
    });
    std::thread audio([&] {
      Block block(1, converted ? 480 : 160, converted ? 48000 : 16000);
      for (int i = 0; i < 1000 && !inside.load(); ++i) node->produce(block.bus());
    });
    while (!inside.load()) std::this_thread::yield();
    switch (kind) {
      case Teardown::Reload:
        EXPECT_TRUE(reload(*node));
        break;
      case Teardown::Destroy:
        delete node;
        node = nullptr;
        break;
      case Teardown::FormatChange:
        EXPECT_TRUE(setFormat(*node, 16000, 1));
        EXPECT_EQ(in(*node).resampler, nullptr);
        break;
    }
    EXPECT_TRUE(leaving.load()) << "the teardown returned while produce was still running";
    audio.join();
    if (node != nullptr) {
      // Produce is not locked out for good: speech plays again.
      fake_engine::knobs().samplesPerText = 1000;
      node->synthesize("Again.");
      Block block(1, 160);
      node->produce(block.bus());
      EXPECT_FALSE(block.silent());
      delete node;
    }
    EXPECT_EQ(itemsAlive(), 0);
  }
}

TEST_F(TTSConcurrency, ProduceDuringTeardownRendersSilence) {
  auto node = makeNode();
  node->synthesize("Anything.");
  std::optional<RenderGate::Exclusion> teardown(std::in_place, in(*node).gate);  // as while a teardown runs
  Block block(2, 160);
  EXPECT_TRUE(node->produce(block.bus()));
  EXPECT_TRUE(block.silent());
  EXPECT_EQ(in(*node).currentItem.load(), nullptr);  // nothing was touched
  EXPECT_EQ(in(*node).nextItem.load()->readPosition.load(), 0);
  teardown.reset();
  node->produce(block.bus());
  EXPECT_FALSE(block.silent());
}

// The render step has loaded nextItem and not yet stored it into currentItem
// when two further syntheses make that item stale by the pointers alone. The
// release must not free it, and must not wait for the pass either: it leaves
// the item for a later release, which finds it playing. The pass is played
// by hand here so that the window stays open as long as the test needs.
TEST_F(TTSConcurrency, ReleaseSparesTheItemTheRenderStepIsTakingUpWithoutWaiting) {
  auto node = makeNode();
  Internals& s = in(*node);
  node->synthesize("A.");
  std::optional<RenderGate::RenderPass> pass(std::in_place, s.gate);  // a render pass begins...
  GeneratedAudioItem* loaded = s.nextItem.load();                      // ...and loads nextItem

  node->synthesize("B.");
  node->synthesize("C.");  // A is now named by neither pointer; this thread did not wait
  EXPECT_EQ(fake_engine::calls().generate.load(), 3);
  EXPECT_EQ(itemsFreed(), 0) << "released while the render step held it";

  s.currentItem.store(loaded);  // ...stores it into currentItem
  pass.reset();                 // and ends
  ASSERT_EQ(s.generatedAudioItems.size(), 3u);
  node->synthesize("D.");  // now B is stale and goes; A plays, C is still published
  EXPECT_EQ(itemsFreed(), 1);
  ASSERT_EQ(s.generatedAudioItems.size(), 3u);
  EXPECT_EQ(s.generatedAudioItems[0].get(), loaded);
  EXPECT_EQ(s.generatedAudioItems[2].get(), s.nextItem.load());
}

// An append reads the playing item under streamingMutex (isAudioPlaying).
// Releasing items, by a synthesis or by a reload, waits for that lock, so the
// item read is never one being freed. The test holds the lock as an append
// in that moment would.
TEST_F(TTSConcurrency, ItemsAreFreedOnlyOutsideAnAppendsLook) {
  for (bool reload : {false, true}) {
    SCOPED_TRACE(reload ? "reload" : "synthesis");
    fake_engine::reset();
    auto node = makeNode();
    Block block(1, 160);
    node->synthesize("Playing.");
    node->produce(block.bus());
    node->synthesize("Published.");
    node->produce(block.bus());  // "Playing." is now stale

    std::unique_lock<std::mutex> looking(in(*node).streamingMutex);
    std::atomic<bool> done{false};
    std::thread control([&] {
      reload ? void(this->reload(*node)) : void(node->synthesize("Third."));
      done.store(true);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(itemsFreed(), 0) << "freed during the look";
    EXPECT_FALSE(done.load());
    looking.unlock();
    control.join();
    EXPECT_EQ(itemsFreed(), reload ? 2 : 1);
  }
}

// One control thread calls the node's operations at random while a second
// one streams tokens and the audio thread produces blocks without pause, and
// listeners of both events call back into the node (on the audio thread and
// inside syntheses); then the node is destroyed with speech playing.
// Sanitizer builds run the same time budget.
TEST_F(TTSConcurrency, StressControlCallsAgainstTheAudioThread) {
  logs.reset();
  testing_support::LogCapture quiet(LogLevel::None);
  fake_engine::knobs().samplesPerChar = 20;
  fake_engine::knobs().generateDelayMicros = 50;
  auto node = makeNode();
  auto events = std::make_unique<EventLog>(*node);

  // Listeners call back now and then, never from inside their own callback
  // (a listener that always synthesises from "synthesisStarted" would recurse
  // without end, as it would in any application).
  std::atomic<bool> callingBack{true};
  std::atomic<unsigned> callbackDice{0};
  std::atomic<long> callbacks{0};
  thread_local int callbackDepth = 0;
  auto callBack = [&](const std::string&, const QVAny&) {
    const unsigned dice = callbackDice.fetch_add(1) * 2654435761u;
    if (!callingBack.load() || callbackDepth > 0 || (dice >> 16) % 4 != 0) return;
    ++callbackDepth;
    callbacks.fetch_add(1);
    switch ((dice >> 8) % 8) {
      case 0: node->synthesize("From a listener."); break;
      case 1: node->appendStreamingText(" A token from a listener.", (dice >> 4) % 3 == 0); break;
      case 2: node->stop(); break;
      case 3: node->clearStreamingBuffer(); break;
      case 4: reload(*node); break;
      case 5: setFormat(*node, (dice >> 4) % 2 == 0 ? 16000 : 48000, 2); break;
      case 6: {
        Block nested(2, 160, 48000);
        node->produce(nested.bus());  // renders silence: a produce inside a produce
        break;
      }
      default: break;
    }
    --callbackDepth;
  };
  node->addListener("finished", callBack);
  node->addListener("synthesisStarted", callBack);

  std::atomic<bool> stop{false};
  std::atomic<long> blocks{0};
  std::thread audio([&] {
    Block block(2, 160, 48000);
    while (!stop.load()) {
      node->produce(block.bus());
      blocks.fetch_add(1);
    }
  });

  const char* tokens[] = {"Hello", " there", ", friend.", " How are you", "?", " ...", " fine", "; yes", "\n"};
  std::atomic<bool> stopStreaming{false};
  std::thread streamer([&] {
    std::mt19937 streamRng(7);
    while (!stopStreaming.load()) {
      node->appendStreamingText(tokens[streamRng() % std::size(tokens)], streamRng() % 20 == 0);
      if (streamRng() % 50 == 0) node->clearStreamingBuffer();
    }
  });
  std::mt19937 rng(20240607);
  const int rates[] = {0, 16000, 22050, 44100, 48000};
  const unsigned channels[] = {1, 2, 2, 6};
  long operations = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(2500);
  while (std::chrono::steady_clock::now() < deadline) {
    switch (rng() % 8) {
      case 0:
      case 1:
        node->synthesize("Stress *sentence* number " + std::to_string(operations) + ".");
        break;
      case 2:
      case 3:
        node->appendStreamingText(tokens[rng() % std::size(tokens)], rng() % 10 == 0);
        break;
      case 4:
        reload(*node);
        break;
      case 5:
        setFormat(*node, rates[rng() % std::size(rates)], channels[rng() % std::size(channels)]);
        break;
      case 6:
        rng() % 2 == 0 ? node->clearStreamingBuffer() : void(node->stop());
        break;
      default:
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 500));
        break;
    }
    ++operations;
  }

  stopStreaming.store(true);
  streamer.join();
  callingBack.store(false);

  // Destroyed while speaking: a long utterance, taken up by the audio thread.
  setFormat(*node, 48000, 2);
  node->clearStreamingBuffer();
  node->synthesize(std::string(50000, 'x'));  // a million samples
  GeneratedAudioItem* last = in(*node).nextItem.load();
  ASSERT_NE(last, nullptr);
  while (in(*node).currentItem.load() != last) std::this_thread::yield();
  stop.store(true);
  audio.join();
  EXPECT_FALSE(last->complete.load());
  const int finished = events->count("finished");
  events.reset();
  node.reset();

  RecordProperty("operations", static_cast<int>(operations));
  RecordProperty("blocks", static_cast<int>(blocks.load()));
  RecordProperty("finished", finished);
  RecordProperty("callbacks", static_cast<int>(callbacks.load()));
  EXPECT_GT(callbacks.load(), 10);
  EXPECT_GT(operations, 100);
  EXPECT_GT(blocks.load(), 100);
  EXPECT_GT(finished, 0);
  EXPECT_EQ(fake_engine::calls().maxGenerateInFlight.load(), 1);
  EXPECT_EQ(itemsAlive(), 0);
  EXPECT_EQ(fake_engine::calls().createTts.load(), fake_engine::calls().destroyTts.load());
}
