// The recognizer checks: decoding graph structure, token table and model metadata.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "stt/SttTestFiles.h"
#include "support/ModelFileBuilder.h"
#include "models/ModelPaths.h"
#include "models/RecognizerFileChecks.h"

using namespace quorvel::extensions::sherpa;
using stt_test::FstBytes;
namespace fs = std::filesystem;

namespace {

class SttRecognizerFileChecks : public ::testing::Test {
 protected:
  bool graphOk(const std::vector<uint8_t>& bytes) {
    const auto path = dir.path() / "HLG.fst";
    stt_test::writeBytes(path, bytes);
    return isValidDecodingGraph(path.string());
  }
  bool tokensOk(const std::string& text) {
    const auto path = dir.path() / "tokens.txt";
    stt_test::writeText(path, text);
    return isValidTokensFile(path.string());
  }
  stt_test::TempDir dir;
};

std::vector<uint8_t> symbolTable(const std::vector<std::string>& symbols) {
  FstBytes t;
  t.put<int32_t>(2125658996).putString("words").put<int64_t>(static_cast<int64_t>(symbols.size()));
  t.put<int64_t>(static_cast<int64_t>(symbols.size()));
  for (size_t i = 0; i < symbols.size(); ++i) t.putString(symbols[i]).put<int64_t>(static_cast<int64_t>(i));
  return t.bytes;
}

}  // namespace

TEST_F(SttRecognizerFileChecks, AcceptsWellFormedVectorAndConstGraphs) {
  EXPECT_TRUE(graphOk(stt_test::tinyVectorGraph()));

  FstBytes withSymbols;
  withSymbols.header("vector", 2, 0x3, 0, 1, 1);
  const auto table = symbolTable({"<eps>", "HI"});
  withSymbols.bytes.insert(withSymbols.bytes.end(), table.begin(), table.end());
  withSymbols.bytes.insert(withSymbols.bytes.end(), table.begin(), table.end());
  withSymbols.state(0.0f, 1).arc(1, 1, 0);
  EXPECT_TRUE(graphOk(withSymbols.bytes));

  FstBytes constGraph;
  constGraph.header("const", 2, 0, 0, 2, 3);
  constGraph.bytes.resize(constGraph.bytes.size() + 2 * 20 + 3 * 16);
  EXPECT_TRUE(graphOk(constGraph.bytes));
}

TEST_F(SttRecognizerFileChecks, AcceptsTheGeneratedGraphWhenItIsPresent) {
  const std::string graph = defaultSTTGraphPath();
  if (!stt_test::fs::exists(graph)) GTEST_SKIP() << "no generated graph beside the test program: " << graph;
  EXPECT_TRUE(isValidDecodingGraph(graph));
}

TEST_F(SttRecognizerFileChecks, RejectsMissingEmptyRandomAndTruncatedGraphs) {
  EXPECT_FALSE(isValidDecodingGraph((dir.path() / "absent.fst").string()));
  EXPECT_FALSE(isValidDecodingGraph(dir.path().string()));  // a directory
  EXPECT_FALSE(graphOk({}));
  std::mt19937 rng(1234);
  for (int round = 0; round < 50; ++round) {
    std::vector<uint8_t> noise(1 + rng() % 4096);
    for (auto& b : noise) b = static_cast<uint8_t>(rng());
    EXPECT_FALSE(graphOk(noise)) << "round " << round;
  }
  const std::vector<uint8_t> good = stt_test::tinyVectorGraph();
  for (size_t length = 0; length < good.size(); ++length) {
    EXPECT_FALSE(graphOk(std::vector<uint8_t>(good.begin(), good.begin() + static_cast<long>(length))))
        << "cut at " << length << " of " << good.size();
  }
  FstBytes constGraph;
  constGraph.header("const", 2, 0, 0, 2, 3);
  constGraph.bytes.resize(constGraph.bytes.size() + 2 * 20 + 3 * 16 - 1);
  EXPECT_FALSE(graphOk(constGraph.bytes));
}

TEST_F(SttRecognizerFileChecks, RejectsGraphsWithAWrongHeaderField) {
  auto tiny = [](const std::string& fstType, int32_t version, const std::string& arcType) {
    FstBytes f;
    f.header(fstType, version, 0, 0, 1, 1, arcType);
    f.state(0.0f, 1).arc(1, 0, 0);
    return f.bytes;
  };
  EXPECT_TRUE(graphOk(tiny("vector", 2, "standard")));
  EXPECT_FALSE(graphOk(tiny("vector", 1, "standard")));
  EXPECT_FALSE(graphOk(tiny("vector", 2, "log")));
  EXPECT_FALSE(graphOk(tiny("compact", 2, "standard")));
  std::vector<uint8_t> badMagic = tiny("vector", 2, "standard");
  badMagic[0] ^= 0xff;
  EXPECT_FALSE(graphOk(badMagic));

  FstBytes flaggedWithoutTables;
  flaggedWithoutTables.header("vector", 2, 0x1, 0, 1, 1);
  flaggedWithoutTables.state(0.0f, 1).arc(1, 0, 0);
  EXPECT_FALSE(graphOk(flaggedWithoutTables.bytes));
}

TEST_F(SttRecognizerFileChecks, RejectsCountsAndStateIndexesThatDoNotFit) {
  FstBytes arcOutOfRange;
  arcOutOfRange.header("vector", 2, 0, 0, 1, 1);
  arcOutOfRange.state(0.0f, 1).arc(1, 0, 1);
  EXPECT_FALSE(graphOk(arcOutOfRange.bytes));

  for (int64_t start : {int64_t{-1}, int64_t{1}}) {
    FstBytes badStart;
    badStart.header("vector", 2, 0, start, 1, 0);
    badStart.state(0.0f, 0);
    EXPECT_FALSE(graphOk(badStart.bytes)) << "start " << start;
  }

  FstBytes hugeStates;
  hugeStates.header("vector", 2, 0, 0, std::numeric_limits<int64_t>::max(), 0);
  hugeStates.state(0.0f, 0);
  EXPECT_FALSE(graphOk(hugeStates.bytes));

  FstBytes hugeArcs;
  hugeArcs.header("vector", 2, 0, 0, 1, 0);
  hugeArcs.state(0.0f, std::numeric_limits<int64_t>::max());
  EXPECT_FALSE(graphOk(hugeArcs.bytes));

  FstBytes negativeArcs;
  negativeArcs.header("vector", 2, 0, 0, 1, 0);
  negativeArcs.state(0.0f, -1);
  EXPECT_FALSE(graphOk(negativeArcs.bytes));
}

TEST_F(SttRecognizerFileChecks, AcceptsTokenTablesOfSymbolIdLinesWithABlank) {
  EXPECT_TRUE(tokensOk(stt_test::kTinyTokens));
  EXPECT_TRUE(tokensOk("a 1\n<blk> 0"));           // no final newline, blank not first
  EXPECT_TRUE(tokensOk("<blk> 0\r\nHI 1\r\n\n"));  // CRLF and a trailing blank line
  const std::string tokens = defaultSTTTokensPath();
  if (stt_test::fs::exists(tokens)) {
    EXPECT_TRUE(isValidTokensFile(tokens)) << tokens;
  }
}

TEST_F(SttRecognizerFileChecks, RejectsEmptyBlanklessAndMalformedTokenTables) {
  EXPECT_FALSE(isValidTokensFile((dir.path() / "absent.txt").string()));
  EXPECT_FALSE(tokensOk(""));
  EXPECT_FALSE(tokensOk("\n\n"));
  EXPECT_FALSE(tokensOk("a 0\nb 1\n"));
  EXPECT_FALSE(tokensOk("<blk>\n"));
  EXPECT_FALSE(tokensOk("<blk> 0\nHI\n"));
  EXPECT_FALSE(tokensOk("<blk> 0\nHI one\n"));
  EXPECT_FALSE(tokensOk("<blk> 0\nHI -1\n"));
  EXPECT_FALSE(tokensOk("<blk> 0 extra\n"));
  std::mt19937 rng(99);
  std::string noise(512, '\0');
  for (char& c : noise) c = static_cast<char>(rng());
  EXPECT_FALSE(tokensOk(noise));
}

TEST(RecognizerMetadataRules, AcceptTheNineKeysAsIntegerLists) {
  const auto entries = model_files::recognizerMetadata();
  EXPECT_EQ(recognizerMetadataProblem(ModelMetadata(entries.begin(), entries.end())), "");
  const auto real = model_files::with(entries, "encoder_dims", "192,256,384,512,384,256");
  EXPECT_EQ(recognizerMetadataProblem(ModelMetadata(real.begin(), real.end())), "");
  if (fs::exists(defaultSTTModelPath())) {
    EXPECT_EQ(recognizerModelProblem(defaultSTTModelPath()), "");
  }
  EXPECT_EQ(recognizerModelProblem("/nonexistent/model.ort"), "");
}

TEST(RecognizerMetadataRules, RefuseAMissingOrMalformedKeyNamingIt) {
  for (const auto& [key, value] : model_files::recognizerMetadata()) {
    const auto entries = model_files::without(model_files::recognizerMetadata(), key);
    EXPECT_EQ(recognizerMetadataProblem(ModelMetadata(entries.begin(), entries.end())), "metadata '" + key + "' is missing");
  }
  for (const std::string bad : {"-1", "8,,8", ",8", "8,", "abc", "8 8", "1.5"}) {
    const auto entries = model_files::with(model_files::recognizerMetadata(), "num_heads", bad);
    EXPECT_EQ(recognizerMetadataProblem(ModelMetadata(entries.begin(), entries.end())),
              "metadata 'num_heads' is not a list of non-negative integers (" + bad + ")");
  }
  auto twice = model_files::recognizerMetadata();
  twice.emplace_back("T", "46");
  EXPECT_EQ(recognizerMetadataProblem(ModelMetadata(twice.begin(), twice.end())),
            "metadata 'T' is given twice with different values");
  auto emptyKey = model_files::recognizerMetadata();
  emptyKey.insert(emptyKey.end(), {{"", "a"}, {"", "b"}});
  EXPECT_EQ(recognizerMetadataProblem(ModelMetadata(emptyKey.begin(), emptyKey.end())),
            "metadata '' is given twice with different values");
}

TEST_F(SttRecognizerFileChecks, ModelFileProblemsNameTheFile) {
  const fs::path ort = dir.path() / "model.ort";
  model_files::writeBytes(ort, model_files::ortModel(model_files::without(model_files::recognizerMetadata(), "T")));
  EXPECT_EQ(recognizerModelProblem(ort.string()), "Model file " + ort.string() + ": metadata 'T' is missing");
  const fs::path onnxNamedOrt = dir.path() / "onnx.ort";
  model_files::writeBytes(onnxNamedOrt, model_files::onnxModel(model_files::recognizerMetadata()));
  EXPECT_EQ(recognizerModelProblem(onnxNamedOrt.string()), "Model file " + onnxNamedOrt.string() + ": cannot be read as an ORT model");
  const fs::path onnx = dir.path() / "model.onnx";
  model_files::writeBytes(onnx, model_files::onnxModel(model_files::recognizerMetadata()));
  EXPECT_EQ(recognizerModelProblem(onnx.string()), "");
}

TEST_F(SttRecognizerFileChecks, AHugeTokenTableIsRefusedWithoutBeingRead) {
  const fs::path huge = dir.path() / "tokens.txt";
  stt_test::writeText(huge, "");
  fs::resize_file(huge, uint64_t{1} << 30);
  EXPECT_FALSE(isValidTokensFile(huge.string()));
}
