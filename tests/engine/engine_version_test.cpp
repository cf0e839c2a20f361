#include <gtest/gtest.h>

#include <string>

#include "engine/EngineConfig.h"
#include "engine/EngineVersion.h"
#include "engine/SherpaOnnxCApi.h"

using namespace quorvel::extensions::sherpa;

TEST(RealEngine, ReportsTheVersionTheDeclarationsDescribe) {
  ASSERT_NE(SherpaOnnxGetVersionStr(), nullptr);
  EXPECT_EQ(std::string(SherpaOnnxGetVersionStr()), "1.13.4");
  EXPECT_TRUE(engineVersionMatches("SherpaTTSNode"));
}

TEST(RealEngine, CreateReturnsNullForMissingFiles) {
  const VoiceConfig voice("/nonexistent/model.onnx", "/nonexistent/tokens.txt", "/nonexistent/espeak-ng-data");
  EXPECT_EQ(SherpaOnnxCreateOfflineTts(&voice.record()), nullptr);

  const RecognizerConfig recognizer("/nonexistent/model.ort", "/nonexistent/tokens.txt", "/nonexistent/HLG.fst");
  EXPECT_EQ(SherpaOnnxCreateOnlineRecognizer(&recognizer.record()), nullptr);
}
