// The node's construction, registered metadata and action dispatch.
#include <filesystem>
#include <tuple>

#include "TTSTestSupport.h"
#include "models/ModelPaths.h"

using namespace tts_test;
using quorvel::LogLevel;
using quorvel::Result;
using quorvel::SingleBusAudioSourceNode;
namespace sherpa = quorvel::extensions::sherpa;

using TTSNodeSurface = TTSFixture;

TEST_F(TTSNodeSurface, ConstructionLogsTheDefaultEnglishVoiceLoad) {
  const std::string model = sherpa::defaultTTSModelPath("en");
  const std::string tokens = sherpa::defaultTTSTokensPath("en");
  const std::string data = sherpa::defaultTTSDataDirPath("en");
  auto node = std::make_unique<SherpaTTSNode>(QVAnyMap());

  Entries expected = {
      {LogLevel::Debug, "[SherpaTTSNode] Attempting to load TTS model for language: en"},
      {LogLevel::Debug, "[SherpaTTSNode] Model path: " + model},
      {LogLevel::Debug, "[SherpaTTSNode] Tokens path: " + tokens},
      {LogLevel::Debug, "[SherpaTTSNode] Data dir path: " + data},
  };
  if (std::filesystem::exists(model)) {
    expected.push_back({LogLevel::Debug, "[SherpaTTSNode] Model file exists, attempting to load..."});
    expected.push_back({LogLevel::Info, "[SherpaTTSNode] loadModel called with path: " + model});
    if (!std::filesystem::exists(tokens))
      expected.push_back({LogLevel::Warning, "[SherpaTTSNode] Tokens file does not exist at path: " + tokens});
    if (!std::filesystem::exists(data))
      expected.push_back({LogLevel::Warning, "[SherpaTTSNode] Data directory does not exist at path: " + data});
    expected.push_back({LogLevel::Info, "[SherpaTTSNode] Loading TTS model from: " + model});
    expected.push_back({LogLevel::Info, "[SherpaTTSNode] Calling SherpaOnnxCreateOfflineTts..."});
    expected.push_back({LogLevel::Info, "[SherpaTTSNode] TTS model loaded successfully"});
    expected.push_back({LogLevel::Info, "[SherpaTTSNode] Sherpa model loaded successfully: " + model +
                                            ", tts=valid, this=" + address(&in(*node))});
    EXPECT_EQ(fake_engine::calls().createTts.load(), 1);
    EXPECT_EQ(fake_engine::lastTtsModelPath(), model);
  } else {
    expected.push_back({LogLevel::Error, "[SherpaTTSNode] Model file does not exist at path: " + model});
    EXPECT_EQ(fake_engine::calls().createTts.load(), 0);
  }
  EXPECT_EQ(logs->entries(), expected);
  EXPECT_EQ(node->getTypeName(), "SherpaTTSNode");
}

TEST_F(TTSNodeSurface, ConstructionWithoutAModelFileLoadsNothing) {
  // An unknown language has empty default paths, so no model file exists.
  Internals internals(nullptr, "xx");
  EXPECT_EQ(logs->entries(), (Entries{
                                 {LogLevel::Debug, "[SherpaTTSNode] Attempting to load TTS model for language: xx"},
                                 {LogLevel::Debug, "[SherpaTTSNode] Model path: "},
                                 {LogLevel::Debug, "[SherpaTTSNode] Tokens path: "},
                                 {LogLevel::Debug, "[SherpaTTSNode] Data dir path: "},
                                 {LogLevel::Error, "[SherpaTTSNode] Model file does not exist at path: "},
                             }));
  EXPECT_EQ(internals.tts, nullptr);
  EXPECT_EQ(fake_engine::calls().createTts.load(), 0);
  EXPECT_TRUE(internals.modelPath.empty());
}

TEST_F(TTSNodeSurface, DestructionLogsTheTeardownInOrder) {
  auto node = makeNode();
  logs->clear();
  node.reset();
  Entries expected = {{LogLevel::Info, "[SherpaTTSNode] Destructor called"},
                      {LogLevel::Info, "[SherpaTTSNode] Destructor called - starting cleanup"}};
  for (const auto& line : cleanupLines(0, false, true)) expected.push_back(line);
  expected.push_back({LogLevel::Info, "[SherpaTTSNode] Destructor completed"});
  EXPECT_EQ(logs->entries(), expected);
  EXPECT_EQ(fake_engine::calls().destroyTts.load(), fake_engine::calls().createTts.load());
}

TEST_F(TTSNodeSurface, UnknownCreationKeysAreReportedAndIgnored) {
  auto node = makeNode(QVAnyMap{{"language", QVAny("de")}, {"voice", QVAny("x")}});
  std::vector<std::string> errors;
  for (const auto& [level, line] : logs->entries())
    if (level == LogLevel::Error) errors.push_back(line);
  EXPECT_EQ(errors, (Texts{"Unknown parameter: language", "Unknown parameter: voice"}));
  EXPECT_NE(in(*node).tts, nullptr);
  EXPECT_EQ(fake_engine::calls().generate.load(), 0);
  EXPECT_EQ(node->getActions().size(), 4u);
}

TEST_F(TTSNodeSurface, TextKeyIsSpokenDuringConstructionBeforeAnythingIsRegistered) {
  if (!std::filesystem::exists(sherpa::defaultTTSModelPath("en")))
    GTEST_SKIP() << "the default English voice is not beside the test program";
  // The node is built in place so that the engine hook can look at the
  // registries of its (already constructed) base while the node is built.
  alignas(SherpaTTSNode) unsigned char storage[sizeof(SherpaTTSNode)];
  auto* future = reinterpret_cast<SherpaTTSNode*>(storage);
  std::vector<std::string> spoken;
  size_t actionsThen = 99;
  size_t eventsThen = 99;
  fake_engine::knobs().onGenerate = [&](const std::string& text) {
    const quorvel::QuorvelObject* base = future;
    spoken.push_back(text);
    actionsThen = base->getActions().size();
    eventsThen = base->getEvents().size();
  };
  auto* node = new (storage) SherpaTTSNode(QVAnyMap{{"text", QVAny("Hello *there*.")}});
  EXPECT_EQ(spoken, Texts{"Hello there."});
  EXPECT_EQ(actionsThen, 0u);
  EXPECT_EQ(eventsThen, 0u);
  EXPECT_EQ(node->getActions().size(), 4u);
  EXPECT_EQ(node->getEvents().size(), 3u);
  EXPECT_NE(in(*node).nextItem.load(), nullptr);
  node->~SherpaTTSNode();
}

TEST_F(TTSNodeSurface, RegistersExactlyTheActionMetadata) {
  auto node = makeNode();
  auto param = [](const char* name, const char* description, const char* type, bool optional) {
    return QVAny(QVAnyMap{{"name", QVAny(name)},
                          {"description", QVAny(description)},
                          {"type", QVAny(type)},
                          {"isOptional", QVAny(optional)}});
  };
  quorvel::QuorvelObject::Registry expected = {
      {"synthesize",
       QVAnyMap{{"description", QVAny("Synthesizes text to speech.")},
                {"parameters", QVAny(QVAnyMap{{"text", param("text", "The text to synthesize.", "string", false)}})}}},
      {"appendStreamingText",
       QVAnyMap{{"description",
                 QVAny("Appends streaming text to the synthesis buffer. Synthesizes at sentence boundaries.")},
                {"parameters",
                 QVAny(QVAnyMap{{"token", param("token", "The token text to append.", "string", false)},
                                {"isFinal", param("isFinal", "True if this is the final token.", "boolean", true)}})}}},
      {"clearStreamingBuffer",
       QVAnyMap{{"description", QVAny("Clears the streaming text buffer without synthesizing.")}}},
      {"stop",
       QVAnyMap{{"description", QVAny("Stops speaking at once: fades out what plays and drops queued speech and held "
                                      "streaming text, without \"finished\".")}}},
  };
  EXPECT_EQ(node->getActions(), expected);
  // "isOptional" is a boolean, not the text "false".
  const QVAny optional = QVAny::convert<QVAnyMap>(
                             QVAny::convert<QVAnyMap>(node->getActions()[0].second.at("parameters")).at("text"))
                             .at("isOptional");
  EXPECT_EQ(optional.type(), QVAny::Type::Bool);
}

TEST_F(TTSNodeSurface, RegistersExactlyTheEventMetadata) {
  auto node = makeNode();
  quorvel::QuorvelObject::Registry expected = {
      {"finished", QVAnyMap{{"description", QVAny("Emitted when the synthesized audio has finished playing.")}}},
      {"synthesisStarted",
       QVAnyMap{{"name", QVAny("synthesisStarted")},
                {"description", QVAny("Emitted when synthesis of a text segment begins.")},
                {"data",
                 QVAny(QVAnyMap{
                     {"text", QVAny(QVAnyMap{{"name", QVAny("text")},
                                             {"type", QVAny("string")},
                                             {"description", QVAny("The text being synthesized.")}})},
                     {"sequence",
                      QVAny(QVAnyMap{{"name", QVAny("sequence")},
                                     {"type", QVAny("int")},
                                     {"description", QVAny("The segment's number: segments are numbered in the "
                                                           "order their text reached the node.")}})}})}}},
      {"spoken",
       QVAnyMap{{"name", QVAny("spoken")},
                {"description",
                 QVAny("Emitted while a segment plays, once playback has passed the estimated end of a further word.")},
                {"data",
                 QVAny(QVAnyMap{
                     {"text", QVAny(QVAnyMap{{"name", QVAny("text")},
                                             {"type", QVAny("string")},
                                             {"description", QVAny("The word just spoken, with the spaces and "
                                                                   "punctuation before it.")}})},
                     {"sequence", QVAny(QVAnyMap{{"name", QVAny("sequence")},
                                                 {"type", QVAny("int")},
                                                 {"description",
                                                  QVAny("The number of the segment, as in \"synthesisStarted\".")}})}})}}},
  };
  EXPECT_EQ(node->getEvents(), expected);
}

TEST_F(TTSNodeSurface, SynthesizeActionLogsAndSpeaks) {
  makeSpeaker();
  logs->clear();
  Result<QVAny> r = node->callAction("synthesize", QVAnyMap{{"text", QVAny("Good day.")}});
  ASSERT_TRUE(r.isOk());
  // Nothing played, so nothing was cut off.
  EXPECT_EQ(r.value(), QVAny(QVAnyMap{{"heardText", QVAny("")}, {"unheardText", QVAny("")}}));
  ASSERT_FALSE(logs->lines().empty());
  EXPECT_EQ(logs->lines().front(), "[SherpaTTSNode] Action 'synthesize' called with text: Good day.");
  EXPECT_EQ(logs->entries().front().first, LogLevel::Debug);
  EXPECT_EQ(fake_engine::generatedTexts(), Texts{"Good day."});
  EXPECT_EQ(events->startedTexts(), Texts{"Good day."});
}

TEST_F(TTSNodeSurface, AppendStreamingTextReadsIsFinalOnlyWhenPresent) {
  auto node = makeNode();
  logs->clear();
  ASSERT_TRUE(node->callAction("appendStreamingText", QVAnyMap{{"token", QVAny("Short.")}}).isOk());
  EXPECT_EQ(logs->lines().front(), "[SherpaTTSNode] Action 'appendStreamingText' called with token: Short.");
  EXPECT_EQ(fake_engine::calls().generate.load(), 0);  // held: isFinal taken as false
  EXPECT_EQ(in(*node).streamingBuffer, "Short.");

  ASSERT_TRUE(
      node->callAction("appendStreamingText", QVAnyMap{{"token", QVAny(" Done")}, {"isFinal", QVAny("true")}}).isOk());
  EXPECT_EQ(fake_engine::generatedTexts(), Texts{"Short. Done"});
  EXPECT_TRUE(in(*node).streamingBuffer.empty());

  ASSERT_TRUE(
      node->callAction("appendStreamingText", QVAnyMap{{"token", QVAny("Again.")}, {"isFinal", QVAny(false)}}).isOk());
  EXPECT_EQ(fake_engine::calls().generate.load(), 1);
}

TEST_F(TTSNodeSurface, ClearStreamingBufferIgnoresParameters) {
  auto node = makeNode();
  node->appendStreamingText("Pending words", false);
  logs->clear();
  Result<QVAny> r = node->callAction("clearStreamingBuffer", QVAnyMap{{"text", QVAny("ignored")}});
  ASSERT_TRUE(r.isOk());
  EXPECT_TRUE(r.value().isEmpty());
  EXPECT_EQ(logs->lines(), Texts{"[SherpaTTSNode] Action 'clearStreamingBuffer' called"});
  EXPECT_TRUE(in(*node).streamingBuffer.empty());
  EXPECT_EQ(fake_engine::calls().generate.load(), 0);
}

TEST_F(TTSNodeSurface, LoadModelIsDispatchedAndAnswersWithABoolean) {
  auto node = makeNode();
  QVAnyMap params{{"modelPath", QVAny(voice.model())},
                  {"tokensPath", QVAny(voice.tokens())}, {"dataPath", QVAny(voice.dataDir())}};
  Result<QVAny> ok = node->callAction("loadModel", params);
  ASSERT_TRUE(ok.isOk());
  ASSERT_NE(ok.value().asBool(), nullptr);
  EXPECT_TRUE(*ok.value().asBool());
  EXPECT_EQ(in(*node).modelPath, voice.model());

  fake_engine::knobs().createTtsFails = true;
  Result<QVAny> failed = node->callAction("loadModel", params);
  ASSERT_TRUE(failed.isOk());
  ASSERT_NE(failed.value().asBool(), nullptr);
  EXPECT_FALSE(*failed.value().asBool());
  EXPECT_EQ(in(*node).tts, nullptr);
}

TEST_F(TTSNodeSurface, UnknownActionsGetTheBaseClassAnswer) {
  auto node = makeNode();
  SingleBusAudioSourceNode plain;
  for (const char* name : {"speak", "Synthesize", "", "loadmodel"}) {
    Result<QVAny> mine = node->callAction(name, QVAnyMap{{"text", QVAny("x")}});
    Result<QVAny> base = plain.callAction(name, QVAnyMap{{"text", QVAny("x")}});
    EXPECT_EQ(mine.isOk(), base.isOk()) << name;
    EXPECT_EQ(mine.error(), base.error()) << name;
    EXPECT_FALSE(mine.isOk()) << name;
  }
  EXPECT_EQ(fake_engine::calls().generate.load(), 0);
}

TEST_F(TTSNodeSurface, MissingRequiredParametersAreRefusedWithoutSideEffects) {
  auto node = makeNode();
  const int creates = fake_engine::calls().createTts.load();
  const auto* voiceBefore = in(*node).tts;

  const std::tuple<const char*, QVAnyMap, const char*> partial[] = {
      {"synthesize", QVAnyMap{{"txt", QVAny("x")}}, "Missing parameter: text"},
      {"appendStreamingText", QVAnyMap{{"isFinal", QVAny(true)}}, "Missing parameter: token"},
      {"loadModel", QVAnyMap{{"tokensPath", QVAny("t")}, {"dataPath", QVAny("d")}}, "Missing parameter: modelPath"},
      {"loadModel", QVAnyMap{{"modelPath", QVAny("m")}, {"dataPath", QVAny("d")}}, "Missing parameter: tokensPath"},
      {"loadModel", QVAnyMap{{"modelPath", QVAny("m")}, {"tokensPath", QVAny("t")}}, "Missing parameter: dataPath"},
  };
  for (const auto& [action, params, message] : partial) {
    Result<QVAny> r = node->callAction(action, params);
    EXPECT_FALSE(r.isOk()) << action;
    EXPECT_EQ(r.error(), message);
  }
  EXPECT_EQ(fake_engine::calls().generate.load(), 0);
  EXPECT_EQ(fake_engine::calls().createTts.load(), creates);
  EXPECT_EQ(in(*node).tts, voiceBefore);  // the loaded voice stays
  EXPECT_TRUE(in(*node).streamingBuffer.empty());
}
