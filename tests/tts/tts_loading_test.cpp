// Loading a voice, reloading it and tearing it down.
#include <cstring>

#include "TTSTestSupport.h"

using namespace tts_test;
using quorvel::LogLevel;

using TTSLoading = TTSFixture;

TEST_F(TTSLoading, MissingFilesOnlyWarnAndTheEngineIsStillAsked) {
  Internals internals(nullptr, "xx");
  logs->clear();
  fake_engine::knobs().createTtsFails = true;
  EXPECT_FALSE(internals.loadModel("/nonexistent/m.onnx", "/nonexistent/t.txt", "/nonexistent/data"));
  EXPECT_EQ(logs->entries(),
            (Entries{
                {LogLevel::Info, "[SherpaTTSNode] loadModel called with path: /nonexistent/m.onnx"},
                {LogLevel::Warning, "[SherpaTTSNode] Model file does not exist at path: /nonexistent/m.onnx"},
                {LogLevel::Warning, "[SherpaTTSNode] Tokens file does not exist at path: /nonexistent/t.txt"},
                {LogLevel::Warning, "[SherpaTTSNode] Data directory does not exist at path: /nonexistent/data"},
                {LogLevel::Info, "[SherpaTTSNode] Loading TTS model from: /nonexistent/m.onnx"},
                {LogLevel::Info, "[SherpaTTSNode] Calling SherpaOnnxCreateOfflineTts..."},
                {LogLevel::Error, "[SherpaTTSNode] Failed to create Sherpa Offline TTS."},
                {LogLevel::Error, "[SherpaTTSNode] Check that the model files exist and are valid"},
            }));
  EXPECT_EQ(fake_engine::calls().createTts.load(), 1);
  EXPECT_EQ(fake_engine::lastTtsModelPath(), "/nonexistent/m.onnx");
  EXPECT_EQ(internals.tts, nullptr);
  EXPECT_EQ(internals.modelPath, "/nonexistent/m.onnx");  // stored although the load failed
}

TEST_F(TTSLoading, ExistingFilesGiveNoWarnings) {
  Internals internals(nullptr, "xx");
  logs->clear();
  EXPECT_TRUE(internals.loadModel(voice.model(), voice.tokens(), voice.dataDir()));
  for (const auto& [level, line] : logs->entries()) EXPECT_NE(level, LogLevel::Warning) << line;
  EXPECT_NE(internals.tts, nullptr);
}

TEST_F(TTSLoading, ReloadCleansUpCompletelyBeforeLoading) {
  auto node = makeNode();
  node->synthesize("One.");
  node->synthesize("Two.");
  ASSERT_TRUE(setFormat(*node, 48000, 2));
  logs->clear();
  ASSERT_TRUE(reload(*node));
  Entries expected = {{LogLevel::Info, "[SherpaTTSNode] loadModel called with path: " + voice.model()},
                      {LogLevel::Info, "[SherpaTTSNode] Model already loaded, cleaning up before reloading"}};
  for (auto& e : cleanupLines(2, true, true)) expected.push_back(e);
  expected.push_back({LogLevel::Info, "[SherpaTTSNode] Loading TTS model from: " + voice.model()});
  expected.push_back({LogLevel::Info, "[SherpaTTSNode] Calling SherpaOnnxCreateOfflineTts..."});
  expected.push_back({LogLevel::Info, "[SherpaTTSNode] TTS model loaded successfully"});
  EXPECT_EQ(logs->entries(), expected);
  EXPECT_EQ(itemsAlive(), 0);
  EXPECT_EQ(in(*node).nextItem.load(), nullptr);
  EXPECT_EQ(in(*node).currentItem.load(), nullptr);
}

TEST_F(TTSLoading, CleanupWithNothingLoadedLogsExactlyFourLines) {
  Internals internals(nullptr, "xx");
  logs->clear();
  internals.cleanup();
  EXPECT_EQ(logs->entries(), cleanupLines(0, false, false));
  EXPECT_EQ(fake_engine::calls().destroyTts.load(), 0);
}

TEST_F(TTSLoading, ConfigHoldsOnlyTheThreePaths) {
  auto node = makeNode();
  ASSERT_TRUE(reload(*node));
  const Internals& s = in(*node);
  SherpaOnnxOfflineTtsConfig handed = fake_engine::lastTtsConfig();
  EXPECT_EQ(handed.model.vits.model, s.modelPath.c_str());
  EXPECT_EQ(handed.model.vits.tokens, s.tokensPath.c_str());
  EXPECT_EQ(handed.model.vits.data_dir, s.dataDirPath.c_str());
  EXPECT_EQ(s.tokensPath, voice.tokens());
  EXPECT_EQ(s.dataDirPath, voice.dataDir());
  // Every other byte of the structure is zero.
  SherpaOnnxOfflineTtsConfig rest = s.config;
  rest.model.vits.model = nullptr;
  rest.model.vits.tokens = nullptr;
  rest.model.vits.data_dir = nullptr;
  SherpaOnnxOfflineTtsConfig zero;
  std::memset(&zero, 0, sizeof zero);
  EXPECT_EQ(std::memcmp(&rest, &zero, sizeof zero), 0);
}

TEST_F(TTSLoading, AnEngineThatThrowsIsAFailedLoad) {
  auto node = makeNode();
  fake_engine::knobs().createTtsThrows = true;
  logs->clear();
  EXPECT_FALSE(reload(*node));
  EXPECT_EQ(in(*node).tts, nullptr);
  EXPECT_TRUE(logs->contains("[SherpaTTSNode] Engine error while creating the voice: fake engine: corrupt model"));
  EXPECT_TRUE(logs->contains("[SherpaTTSNode] Failed to create Sherpa Offline TTS."));
  EXPECT_TRUE(logs->contains("[SherpaTTSNode] Check that the model files exist and are valid"));
  // Without a voice, synthesis refuses.
  logs->clear();
  node->synthesize("Hello.");
  EXPECT_EQ(logs->entries().back(),
            std::make_pair(LogLevel::Error,
                           std::string("[SherpaTTSNode] synthesize is called but TTS instance is not initialized.")));
}

TEST_F(TTSLoading, ReloadWhilePlayingSilencesAtOnceWithoutFinished) {
  makeSpeaker();
  node->synthesize("Playing.");
  node->appendStreamingText("Waiting text", false);
  ASSERT_TRUE(node->produce(block.bus()));
  ASSERT_FALSE(block.silent());
  ASSERT_TRUE(reload(*node));
  for (int i = 0; i < 10; ++i) {
    ASSERT_TRUE(node->produce(block.bus()));
    EXPECT_TRUE(block.silent()) << i;
  }
  EXPECT_EQ(events->count("finished"), 0);
  EXPECT_EQ(in(*node).streamingBuffer, "Waiting text");
}

TEST_F(TTSLoading, AReloadRestoresTheConversionForTheRememberedRate) {
  auto node = makeNode();
  ASSERT_TRUE(setFormat(*node, 48000, 2));
  ASSERT_NE(in(*node).resampler, nullptr);

  ASSERT_TRUE(reload(*node));
  EXPECT_NE(in(*node).resampler, nullptr);
  EXPECT_EQ(in(*node).sampleRate, 48000);
  EXPECT_EQ(in(*node).resampler->getSourceRate(), 16000);
  EXPECT_EQ(in(*node).resampler->getSourceBlockFrames(), 160);

  fake_engine::knobs().createTtsFails = true;  // a failed load restores it too
  EXPECT_FALSE(reload(*node));
  EXPECT_NE(in(*node).resampler, nullptr);

  // At 16000 Hz there is nothing to restore.
  fake_engine::knobs().createTtsFails = false;
  ASSERT_TRUE(reload(*node));
  ASSERT_TRUE(setFormat(*node, 16000, 1));
  ASSERT_TRUE(reload(*node));
  EXPECT_EQ(in(*node).resampler, nullptr);
}

TEST_F(TTSLoading, AReloadedVoiceAt48kSoundsAsBefore) {
  auto node = makeNode();
  ASSERT_TRUE(setFormat(*node, 48000, 1));
  auto render = [&](const char* text) {
    node->synthesize(text);
    Block block(1, 480, 48000);
    return renderMono(*node, block, 8);
  };
  // A fresh node converts from scratch; compare with a reload's first output.
  std::vector<float> before = render("Same.");
  ASSERT_TRUE(reload(*node));
  std::vector<float> after = render("Same.");
  EXPECT_EQ(before, after);
  EXPECT_GT(*std::max_element(before.begin(), before.end()), 0.1f);  // the speech came through
}
