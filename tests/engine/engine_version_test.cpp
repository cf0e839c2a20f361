#include <gtest/gtest.h>

#include <string>

#include "engine/EngineVersion.h"
#include "engine/SherpaOnnxCApi.h"

using namespace quorvel::extensions::sherpa;

TEST(RealEngine, ReportsTheVersionTheDeclarationsDescribe) {
  ASSERT_NE(SherpaOnnxGetVersionStr(), nullptr);
  EXPECT_EQ(std::string(SherpaOnnxGetVersionStr()), "1.13.4");
  EXPECT_TRUE(engineVersionMatches("SherpaTTSNode"));
}

TEST(RealEngine, CreateReturnsNullForMissingFiles) {
  SherpaOnnxOfflineTtsConfig config{};
  config.model.vits.model = "/nonexistent/model.onnx";
  config.model.vits.tokens = "/nonexistent/tokens.txt";
  config.model.vits.data_dir = "/nonexistent/espeak-ng-data";
  EXPECT_EQ(SherpaOnnxCreateOfflineTts(&config), nullptr);

  SherpaOnnxOnlineRecognizerConfig rconfig{};
  rconfig.feat_config.feature_dim = 80;
  rconfig.model_config.zipformer2_ctc.model = "/nonexistent/model.ort";
  rconfig.model_config.tokens = "/nonexistent/tokens.txt";
  rconfig.model_config.num_threads = 1;
  rconfig.model_config.provider = "cpu";
  rconfig.ctc_fst_decoder_config.graph = "/nonexistent/HLG.fst";
  EXPECT_EQ(SherpaOnnxCreateOnlineRecognizer(&rconfig), nullptr);
}
