// "stop" as a hard line, and the promises around it: what reached the node
// before "stop" returned is neither heard nor announced after it, listeners
// that cut in do so at once, "stop" never waits for a free, and no voice
// outlives the node. Each case pins down one way this used to break.
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include <quorvel/Logger.h>

#include "TTSTestSupport.h"
#include "support/AllocationCounter.h"

using namespace tts_test;

namespace {

const std::string kFirst = "The first piece is long enough to be cut off at its end.";
const std::string kSecond = " The second piece is also long enough to be cut right here.";
const std::string kThird = " And the third one closes the answer.";

class TTSBargeIn : public TTSFixture {
 protected:
  void SetUp() override {
    TTSFixture::SetUp();
    fake_engine::knobs().samplesPerText = 320;  // two blocks of 160
  }
  void TearDown() override {
    quorvel::Logger::setSink(nullptr);
    TTSFixture::TearDown();
  }
  // Runs `reaction` once, on whichever thread logs a line starting with
  // `prefix` next: a way to act at a precise point inside the node.
  void onceAtLogLine(const std::string& prefix, std::function<void()> reaction) {
    quorvel::Logger::setSink([this, prefix, reaction, done = std::make_shared<std::atomic<bool>>(false)](
                                 quorvel::LogLevel, const std::string& line) {
      if (line.rfind(prefix, 0) == 0 && !done->exchange(true)) reaction();
    });
  }
  bool silentFor(int blocks) {
    for (int b = 0; b < blocks; ++b) {
      node->produce(block.bus());
      if (!block.silent()) return false;
    }
    return true;
  }
};

}  // namespace

// A piece whose text has left the buffer is numbered there and then: a
// "stop" landing before its synthesis has begun still drops it, whether the
// cut was made by an append or by the audio thread after "finished".
TEST_F(TTSBargeIn, AStopBetweenTheCutAndTheSynthesisDropsThePiece) {
  for (bool cutByAudioThread : {false, true}) {
    SCOPED_TRACE(cutByAudioThread ? "cut after \"finished\"" : "cut by the append");
    makeSpeaker();
    if (cutByAudioThread) {
      node->appendStreamingText(kFirst, false);
      node->produce(block.bus());               // the first piece plays
      node->appendStreamingText(kSecond, false);  // held until it ends
    }
    onceAtLogLine("[SherpaTTSNode] synthesize called", [this] { node->stop(); });
    if (cutByAudioThread) {
      for (int b = 0; b < 2; ++b) node->produce(block.bus());
    } else {
      node->appendStreamingText(kFirst, false);
    }
    EXPECT_TRUE(silentFor(4)) << "the piece was heard after \"stop\" returned";
    EXPECT_EQ(events->count("synthesisStarted"), cutByAudioThread ? 1 : 0) << "the dropped piece was announced";
    quorvel::Logger::setSink(nullptr);
  }
}

// The old answer's last sample went out in one block; "stop" and a new
// answer came before the next. That next block must not report "finished":
// the agent would take it for the new answer's.
TEST_F(TTSBargeIn, NoFinishedForAnAnswerThatEndedJustBeforeTheStop) {
  makeSpeaker();
  node->synthesize("The old answer.");
  for (int b = 0; b < 2; ++b) node->produce(block.bus());  // every sample played
  events->clear();
  node->stop();
  node->synthesize("The new answer.");
  for (int b = 0; b < 4; ++b) node->produce(block.bus());
  EXPECT_EQ(events->names(), (Texts{"synthesisStarted", "finished"}));
  EXPECT_EQ(events->startedTexts(), Texts{"The new answer."});
}

// At the end of a piece the audio thread cuts and announces the next; a
// listener of that announcement speaks a whole text. It cuts in before the
// announced piece costs a generation.
TEST_F(TTSBargeIn, AWholeTextFromAListenerOnTheAudioThreadCutsInAtOnce) {
  makeSpeaker();
  node->addListener("synthesisStarted", [this](const std::string&, const QVAny& payload) {
    if (QVAny::convert<std::string>(QVAny::convert<QVAnyMap>(payload).at("text")) == kSecond)
      node->synthesize("Cut in.");
  });
  node->appendStreamingText(kFirst, false);
  node->produce(block.bus());
  node->appendStreamingText(kSecond, false);
  for (int b = 0; b < 2; ++b) node->produce(block.bus());  // the first piece ends; the second is cut
  EXPECT_EQ(fake_engine::generatedTexts(), (Texts{kFirst, "Cut in."}));
  EXPECT_EQ(block.at(0, 0), fake_engine::sampleValue(0)) << "the whole text starts in that very block";
}

// Piece A plays, B is held. At A's end the audio thread cuts and announces
// B, and B's listener appends the rest (C) as the final token: it runs at
// once, before B is generated, and yet A, B and C are heard whole, in order.
TEST_F(TTSBargeIn, AFinalTokenFromTheAnnouncementOfAPieceComesAfterIt) {
  makeSpeaker();
  node->addListener("synthesisStarted", [this](const std::string&, const QVAny& payload) {
    if (QVAny::convert<std::string>(QVAny::convert<QVAnyMap>(payload).at("text")) == kSecond)
      node->appendStreamingText(kThird, true);
  });
  node->appendStreamingText(kFirst, false);
  std::vector<float> heard = renderMono(*node, block, 1);
  node->appendStreamingText(kSecond, false);
  const std::vector<float> rest = renderMono(*node, block, 10);
  heard.insert(heard.end(), rest.begin(), rest.end());

  EXPECT_EQ(events->startedTexts(), (Texts{kFirst, kSecond, kThird}));
  EXPECT_EQ(events->count("finished"), 3);
  std::vector<float> expected;
  for (int piece = 0; piece < 3; ++piece)
    for (int i = 0; i < 320; ++i) expected.push_back(fake_engine::sampleValue(i));
  std::erase(heard, 0.0f);
  EXPECT_EQ(heard, expected) << "a piece was cut short, doubled or reordered";
}

namespace {

// Whether the streaming lock was held at each free of this thread, asked of
// a second thread (a thread cannot ask that of a mutex it may hold itself).
namespace free_probe {
std::mutex* watched = nullptr;
std::atomic<std::thread::id> freeingThread{};
std::atomic<int> asked{0};
std::atomic<int> answered{0};
std::atomic<int> frees{0};
std::atomic<int> freesUnderLock{0};

void onOperator(bool allocation) {
  if (allocation || std::this_thread::get_id() != freeingThread.load()) return;
  frees.fetch_add(1);
  const int ask = asked.fetch_add(1) + 1;
  asked.notify_one();
  for (int seen = answered.load(); seen < ask; seen = answered.load()) answered.wait(seen);
}

void answer(const std::atomic<bool>& done) {
  for (int handled = 0;;) {
    while (asked.load() == handled) {
      if (done.load()) return;
      asked.wait(handled);
    }
    if (watched->try_lock()) {
      watched->unlock();
    } else {
      freesUnderLock.fetch_add(1);
    }
    answered.store(++handled);
    answered.notify_one();
  }
}
}  // namespace free_probe

}  // namespace

// Segments that have played are freed by the next synthesis or a reload on a
// control thread. They may be long, and "stop" (from a "finished" listener,
// on the audio thread) takes the streaming lock: the free must not happen
// under it.
TEST_F(TTSBargeIn, SegmentsAreFreedOutsideTheStreamingLock) {
  namespace counter = test_kit::allocation_counter;
  if (!counter::available()) GTEST_SKIP() << "sanitizer builds replace the allocator";
  for (bool byReload : {false, true}) {
    SCOPED_TRACE(byReload ? "freed by a reload" : "freed by the next synthesis");
    makeSpeaker();
    node->appendStreamingText(kFirst, true);  // a piece: no pointer names it once it has played
    renderMono(*node, block, 4);
    ASSERT_EQ(events->count("finished"), 1);

    free_probe::watched = &in(*node).streamingMutex;
    free_probe::asked = 0;
    free_probe::answered = 0;
    free_probe::frees = 0;
    free_probe::freesUnderLock = 0;
    std::atomic<bool> done{false};
    std::thread answerer(free_probe::answer, std::cref(done));
    counter::observe(free_probe::onOperator);
    free_probe::freeingThread = std::this_thread::get_id();
    const int aliveBefore = itemsAlive();
    if (byReload) {
      EXPECT_TRUE(reload(*node));
    } else {
      node->synthesize("Next.");
    }
    free_probe::freeingThread = std::thread::id{};
    counter::observe(nullptr);
    done = true;
    free_probe::asked.fetch_add(1);  // wakes the answerer, which then sees `done`
    free_probe::asked.notify_one();
    answerer.join();
    EXPECT_LT(itemsAlive(), aliveBefore + (byReload ? 0 : 1)) << "the played segment was not freed";
    EXPECT_GT(free_probe::frees.load(), 0);
    EXPECT_EQ(free_probe::freesUnderLock.load(), 0);
  }
}

// The node is destroyed while a "finished" listener (inside produce) loads
// a voice. The destructor already holds the engine, so the load is handed
// over; it must not run after the cleanup and leave a voice nobody frees.
TEST_F(TTSBargeIn, ALoadHandedOverDuringDestructionMakesNoVoice) {
  SherpaTTSNode* doomed = makeNode().release();
  doomed->synthesize("Playing.");
  std::atomic<bool> inside{false};
  doomed->addListener("finished", [&](const std::string&, const QVAny&) {
    inside = true;
    // Wait for the destructor's cleanup to hold the engine (it then waits
    // for this produce call to return).
    EventLog::waitFor([&] { return logs->contains("[SherpaTTSNode] Cleaning up resources..."); },
                      std::chrono::seconds(5));
    doomed->loadModel(voice.model(), voice.tokens(), voice.dataDir());
  });
  std::thread audio([&] {
    Block audioBlock(1, 160);
    for (int i = 0; i < 100 && !inside.load(); ++i) doomed->produce(audioBlock.bus());
  });
  while (!inside.load()) std::this_thread::yield();
  delete doomed;
  audio.join();
  EXPECT_EQ(fake_engine::calls().createTts.load(), fake_engine::calls().destroyTts.load())
      << "a voice outlived the node";
}
