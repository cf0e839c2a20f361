// Nodes loading the same voice files share one engine voice; the last of
// them to let go destroys it.
#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "TTSTestSupport.h"

using namespace tts_test;
using quorvel::LogLevel;

namespace {

// Loading state alone: language "xx" has no default voice, so nothing but
// the load below touches the engine.
std::unique_ptr<Internals> loaded(const std::string& model, const std::string& tokens, const std::string& data) {
  auto internals = std::make_unique<Internals>(nullptr, "xx");
  internals->loadModel(model, tokens, data);
  return internals;
}
std::unique_ptr<Internals> loaded(const TempVoice& voice) {
  return loaded(voice.model(), voice.tokens(), voice.dataDir());
}

int created() { return fake_engine::calls().createTts.load(); }
int destroyed() { return fake_engine::calls().destroyTts.load(); }

// What destroying a loaded Internals logs, whether or not it was the voice's last user.
Entries destructionLines() {
  Entries e = {{LogLevel::Info, "[SherpaTTSNode] Destructor called - starting cleanup"}};
  for (auto& line : cleanupLines(0, false, true)) e.push_back(line);
  e.push_back({LogLevel::Info, "[SherpaTTSNode] Destructor completed"});
  return e;
}

}  // namespace

using SharedVoice = TTSFixture;

TEST_F(SharedVoice, NodesOnTheSameFilesShareOneVoiceWhateverThePathsSpelling) {
  auto first = loaded(voice);
  // The same files through a link and through a detour in the path.
  std::filesystem::create_symlink(voice.model(), voice.dir / "link.onnx");
  auto second = loaded((voice.dir / "link.onnx").string(), voice.tokens(), voice.dataDir());
  auto third = loaded(voice.model(), (voice.dir / "espeak-ng-data" / ".." / "tokens.txt").string(), voice.dataDir());
  EXPECT_EQ(created(), 1);
  ASSERT_NE(first->tts, nullptr);
  EXPECT_EQ(second->tts, first->tts);
  EXPECT_EQ(third->tts, first->tts);
  // Each node keeps the paths it was given.
  EXPECT_EQ(second->modelPath, (voice.dir / "link.onnx").string());
}

TEST_F(SharedVoice, NodesLoadingTheSameFilesAtOnceCreateOneVoice) {
  constexpr int kNodes = 6;
  std::vector<std::unique_ptr<Internals>> nodes(kNodes);
  std::vector<std::thread> threads;
  for (int i = 0; i < kNodes; ++i) threads.emplace_back([&, i] { nodes[i] = loaded(voice); });
  for (auto& t : threads) t.join();
  EXPECT_EQ(created(), 1);
  for (const auto& node : nodes) EXPECT_EQ(node->tts, nodes[0]->tts);
  nodes.clear();
  EXPECT_EQ(destroyed(), 1);
}

TEST_F(SharedVoice, OtherFilesOrCopiesOfThemGetAVoiceOfTheirOwn) {
  TempVoice other;
  auto first = loaded(voice);
  auto second = loaded(other);
  // Equal bytes, other files: a copy is not shared.
  std::filesystem::copy_file(voice.model(), voice.dir / "copy.onnx");
  auto third = loaded((voice.dir / "copy.onnx").string(), voice.tokens(), voice.dataDir());
  EXPECT_EQ(created(), 3);
  EXPECT_NE(second->tts, first->tts);
  EXPECT_NE(third->tts, first->tts);
  EXPECT_NE(third->tts, second->tts);
}

TEST_F(SharedVoice, AFileRewrittenSinceTheVoiceWasMadeIsNotShared) {
  auto first = loaded(voice);
  // Written again in place: the same inode, a later modification time.
  const auto written = std::filesystem::last_write_time(voice.tokens());
  model_files::writeText(voice.tokens(), model_files::kTinyVoiceTokens);
  std::filesystem::last_write_time(voice.tokens(), written + std::chrono::seconds(1));
  auto second = loaded(voice);
  EXPECT_EQ(created(), 2);
  ASSERT_NE(second->tts, nullptr);
  EXPECT_NE(second->tts, first->tts);
}

TEST_F(SharedVoice, TheLastUsersCleanupDestroysItAndEveryNodeLogsTheSameLines) {
  auto first = loaded(voice);
  auto second = loaded(voice);
  ASSERT_EQ(created(), 1);

  logs->clear();
  first.reset();
  EXPECT_EQ(logs->entries(), destructionLines());
  EXPECT_EQ(destroyed(), 0);  // the second node still speaks with it

  logs->clear();
  second.reset();
  EXPECT_EQ(logs->entries(), destructionLines());
  EXPECT_EQ(destroyed(), 1);
}

TEST_F(SharedVoice, AReloadToOtherFilesLeavesTheOtherNodeItsVoice) {
  TempVoice other;
  auto speaker = makeNode();
  auto reloading = makeNode();
  ASSERT_TRUE(speaker->loadModel(voice.model(), voice.tokens(), voice.dataDir()));
  ASSERT_TRUE(reloading->loadModel(voice.model(), voice.tokens(), voice.dataDir()));
  const SherpaOnnxOfflineTts* shared = in(*speaker).tts;
  ASSERT_EQ(in(*reloading).tts, shared);
  const int destroyedBefore = destroyed();

  ASSERT_TRUE(reloading->loadModel(other.model(), other.tokens(), other.dataDir()));
  EXPECT_NE(in(*reloading).tts, shared);
  EXPECT_EQ(in(*speaker).tts, shared);
  EXPECT_EQ(destroyed(), destroyedBefore);

  // And the node left behind still speaks with it.
  EventLog heard(*speaker);
  speaker->synthesize("Still here.");
  ASSERT_TRUE(speaker->produce(block.bus()));
  EXPECT_FALSE(block.silent());
}

TEST_F(SharedVoice, AReloadOfTheOnlyUserToTheSameFilesMakesTheVoiceAfresh) {
  auto only = loaded(voice);
  ASSERT_TRUE(only->loadModel(voice.model(), voice.tokens(), voice.dataDir()));
  // cleanup comes first, so the old voice is gone before the new one is made.
  EXPECT_EQ(created(), 2);
  EXPECT_EQ(destroyed(), 1);
}

TEST_F(SharedVoice, AFailedLoadSharesNothing) {
  fake_engine::knobs().createTtsFails = true;
  auto failed = loaded(voice);
  EXPECT_EQ(failed->tts, nullptr);

  fake_engine::knobs().createTtsFails = false;
  auto next = loaded(voice);  // finds nothing to share: the engine is asked again
  EXPECT_EQ(created(), 2);
  EXPECT_NE(next->tts, nullptr);

  failed.reset();  // holds nothing, so releases nothing
  EXPECT_EQ(destroyed(), 0);
}

TEST_F(SharedVoice, MissingFilesAreNeverShared) {
  const std::string missing = (voice.dir / "missing.onnx").string();
  auto first = loaded(missing, voice.tokens(), voice.dataDir());
  auto second = loaded(missing, voice.tokens(), voice.dataDir());
  // The engine double makes a voice even from no file; each is its own.
  EXPECT_EQ(created(), 2);
  EXPECT_NE(first->tts, second->tts);
  first.reset();
  second.reset();
  EXPECT_EQ(destroyed(), 2);
}
