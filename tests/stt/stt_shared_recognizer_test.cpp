// Recognition nodes loading the same recognizer files share the recognizer,
// each with a stream of its own, against the engine double.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "SttTestFiles.h"
#include "fake_engine/FakeEngine.h"
#include "stt/STTInternals.h"
#include "support/LogCapture.h"

using namespace quorvel::extensions::sherpa;
using testing_support::LogCapture;
using Lines = std::vector<std::string>;

namespace {

const std::string P = "[SherpaSTTNode] ";

const Lines kDestroyLoaded = {P + "Destructor called - starting cleanup", P + "Cleaning up resources...",
                              P + "Freeing stream",     P + "Freeing recognizer",
                              P + "Cleanup completed",  P + "Destructor completed"};

class SharedRecognizer : public ::testing::Test {
 protected:
  void SetUp() override { fake_engine::reset(); }
  void TearDown() override { fake_engine::reset(); }

  // A node's state with nothing loaded: what the default files beside the
  // test program gave it at construction is released. Tests make their
  // nodes this way first, so the counts they take afterwards see only
  // their own loads.
  static std::unique_ptr<SherpaSTTNode::Internals> unloaded() {
    auto internals = std::make_unique<SherpaSTTNode::Internals>(1000);
    internals->cleanup();
    return internals;
  }
  static bool load(SherpaSTTNode::Internals& internals, const stt_test::RecognizerFiles& files) {
    return internals.loadSherpaModel(files.model, files.tokens, files.graph);
  }
  static int created() { return fake_engine::calls().createRecognizer.load(); }
  static int destroyed() { return fake_engine::calls().destroyRecognizer.load(); }

  stt_test::TempDir dir;
  stt_test::TempDir otherDir;
  stt_test::RecognizerFiles files = stt_test::writeRecognizerFiles(dir.path());
};

}  // namespace

TEST_F(SharedRecognizer, TwoNodesOnTheSameFilesShareTheRecognizerWithAStreamEach) {
  auto first = unloaded(), second = unloaded();
  const int createdBefore = created();
  const int streamsBefore = fake_engine::calls().createStream.load();
  ASSERT_TRUE(load(*first, files));
  ASSERT_TRUE(load(*second, files));
  EXPECT_EQ(created(), createdBefore + 1);
  EXPECT_EQ(fake_engine::calls().createStream.load(), streamsBefore + 2);
  ASSERT_NE(first->recognizer, nullptr);
  EXPECT_EQ(second->recognizer, first->recognizer);
  EXPECT_NE(second->stream, first->stream);
}

// The endpoint rules are the recognizer's: a node with other rules (or
// none) must not decode with another node's.
TEST_F(SharedRecognizer, NodesWithOtherEndpointRulesGetARecognizerOfTheirOwn) {
  auto plain = unloaded(), turns = unloaded(), sameTurns = unloaded(), longerTurns = unloaded();
  turns->setEndpointDetection(true, 0.8f);
  sameTurns->setEndpointDetection(true, 0.8f);
  longerTurns->setEndpointDetection(true, 1.2f);
  for (auto* node : {plain.get(), turns.get(), sameTurns.get(), longerTurns.get()}) ASSERT_TRUE(load(*node, files));
  EXPECT_NE(turns->recognizer, plain->recognizer);
  EXPECT_EQ(sameTurns->recognizer, turns->recognizer);
  EXPECT_NE(longerTurns->recognizer, turns->recognizer);
}

TEST_F(SharedRecognizer, CopiesOfTheFilesGetARecognizerOfTheirOwn) {
  const auto copies = stt_test::writeRecognizerFiles(otherDir.path());
  auto first = unloaded(), second = unloaded();
  ASSERT_TRUE(load(*first, files));
  ASSERT_TRUE(load(*second, copies));
  EXPECT_NE(second->recognizer, first->recognizer);
}

TEST_F(SharedRecognizer, EachNodeFreesItsStreamAndTheLastOneTheRecognizerWithTheSameLines) {
  auto first = unloaded(), second = unloaded();
  ASSERT_TRUE(load(*first, files));
  ASSERT_TRUE(load(*second, files));
  const int destroyedBefore = destroyed();
  const int streamsDestroyedBefore = fake_engine::calls().destroyStream.load();

  LogCapture log;
  first.reset();
  EXPECT_EQ(log.lines(), kDestroyLoaded);
  EXPECT_EQ(fake_engine::calls().destroyStream.load(), streamsDestroyedBefore + 1);
  EXPECT_EQ(destroyed(), destroyedBefore);

  log.clear();
  second.reset();
  EXPECT_EQ(log.lines(), kDestroyLoaded);
  EXPECT_EQ(fake_engine::calls().destroyStream.load(), streamsDestroyedBefore + 2);
  EXPECT_EQ(destroyed(), destroyedBefore + 1);
}

TEST_F(SharedRecognizer, AReloadToOtherFilesLeavesTheOtherNodeDecoding) {
  const auto other = stt_test::writeRecognizerFiles(otherDir.path());
  auto staying = unloaded(), reloading = unloaded();
  ASSERT_TRUE(load(*staying, files));
  ASSERT_TRUE(load(*reloading, files));
  const SherpaOnnxOnlineRecognizer* shared = staying->recognizer;
  const SherpaOnnxOnlineStream* stream = staying->stream;
  const int destroyedBefore = destroyed();

  ASSERT_TRUE(load(*reloading, other));
  EXPECT_NE(reloading->recognizer, shared);
  EXPECT_EQ(staying->recognizer, shared);
  EXPECT_EQ(staying->stream, stream);
  EXPECT_EQ(destroyed(), destroyedBefore);
}

TEST_F(SharedRecognizer, ANodeWhoseStreamFailsGivesItsShareBack) {
  auto first = unloaded(), failed = unloaded();
  ASSERT_TRUE(load(*first, files));
  const int destroyedBefore = destroyed();
  fake_engine::knobs().createStreamFails = true;
  EXPECT_FALSE(load(*failed, files));
  EXPECT_EQ(failed->recognizer, nullptr);
  EXPECT_EQ(destroyed(), destroyedBefore);  // the first node still holds it

  fake_engine::knobs().createStreamFails = false;
  first.reset();
  EXPECT_EQ(destroyed(), destroyedBefore + 1);  // and its release was the last
}

TEST_F(SharedRecognizer, AFailedCreationSharesNothing) {
  auto failed = unloaded(), next = unloaded();
  fake_engine::knobs().createRecognizerFails = true;
  EXPECT_FALSE(load(*failed, files));
  fake_engine::knobs().createRecognizerFails = false;
  const int createdBefore = created();
  ASSERT_TRUE(load(*next, files));
  EXPECT_EQ(created(), createdBefore + 1);  // nothing held to share: the engine is asked again
  EXPECT_NE(next->recognizer, nullptr);
}
