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
using model_files::Entries;
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

// A vector graph whose header declares `states` and `arcs`, with one state
// of `stateArcs` arcs (and its one arc, to state 1, when `arcs` > 0).
std::vector<uint8_t> oneStateGraph(int64_t start, int64_t states, int64_t arcs, int64_t stateArcs) {
  FstBytes f;
  f.header("vector", 2, 0, start, states, arcs);
  f.state(0.0f, stateArcs);
  if (arcs > 0) f.arc(1, 0, 1);
  return f.bytes;
}

// A const graph of two states and three arcs, `missing` bytes short.
std::vector<uint8_t> constGraph(size_t missing) {
  FstBytes f;
  f.header("const", 2, 0, 0, 2, 3);
  f.bytes.resize(f.bytes.size() + 2 * 20 + 3 * 16 - missing);
  return f.bytes;
}

std::string metadataProblem(const Entries& entries) {
  return recognizerMetadataProblem(ModelMetadata(entries.begin(), entries.end()));
}

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
  for (int io = 0; io < 2; ++io) withSymbols.bytes.insert(withSymbols.bytes.end(), table.begin(), table.end());  // in, out
  withSymbols.state(0.0f, 1).arc(1, 1, 0);
  EXPECT_TRUE(graphOk(withSymbols.bytes));

  EXPECT_TRUE(graphOk(constGraph(0)));
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
  EXPECT_FALSE(graphOk(constGraph(1)));
}

TEST_F(SttRecognizerFileChecks, RejectsGraphsWithAWrongHeaderField) {
  auto tiny = [](const std::string& fstType, int32_t version, const std::string& arcType, int32_t flags = 0) {
    FstBytes f;
    f.header(fstType, version, flags, 0, 1, 1, arcType);
    f.state(0.0f, 1).arc(1, 0, 0);
    return f.bytes;
  };
  EXPECT_TRUE(graphOk(tiny("vector", 2, "standard")));
  EXPECT_FALSE(graphOk(tiny("vector", 1, "standard")));
  EXPECT_FALSE(graphOk(tiny("vector", 2, "log")));
  EXPECT_FALSE(graphOk(tiny("compact", 2, "standard")));
  EXPECT_FALSE(graphOk(tiny("vector", 2, "standard", 0x1)));  // symbol tables flagged but absent
  std::vector<uint8_t> badMagic = tiny("vector", 2, "standard");
  badMagic[0] ^= 0xff;
  EXPECT_FALSE(graphOk(badMagic));
}

TEST_F(SttRecognizerFileChecks, RejectsCountsAndStateIndexesThatDoNotFit) {
  const int64_t huge = std::numeric_limits<int64_t>::max();
  EXPECT_FALSE(graphOk(oneStateGraph(0, 1, 1, 1)));  // an arc to a state beyond the count
  for (int64_t start : {int64_t{-1}, int64_t{1}}) EXPECT_FALSE(graphOk(oneStateGraph(start, 1, 0, 0))) << start;
  EXPECT_FALSE(graphOk(oneStateGraph(0, huge, 0, 0)));
  EXPECT_FALSE(graphOk(oneStateGraph(0, 1, 0, huge)));
  EXPECT_FALSE(graphOk(oneStateGraph(0, 1, 0, -1)));
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
  for (const char* table :
       {"", "\n\n", "a 0\nb 1\n", "<blk>\n", "<blk> 0\nHI\n", "<blk> 0\nHI one\n", "<blk> 0\nHI -1\n", "<blk> 0 extra\n"}) {
    EXPECT_FALSE(tokensOk(table)) << table;
  }
  std::mt19937 rng(99);
  std::string noise(512, '\0');
  for (char& c : noise) c = static_cast<char>(rng());
  EXPECT_FALSE(tokensOk(noise));
}

TEST(RecognizerMetadataRules, AcceptTheNineKeysAsIntegerLists) {
  EXPECT_EQ(metadataProblem(model_files::recognizerMetadata()), "");
  EXPECT_EQ(metadataProblem(model_files::with(model_files::recognizerMetadata(), "encoder_dims", "192,256,384,512,384,256")), "");
  if (fs::exists(defaultSTTModelPath())) {
    EXPECT_EQ(recognizerModelProblem(defaultSTTModelPath()), "");
  }
  EXPECT_EQ(recognizerModelProblem("/nonexistent/model.ort"), "");
}

TEST(RecognizerMetadataRules, RefuseAMissingOrMalformedKeyNamingIt) {
  const Entries good = model_files::recognizerMetadata();
  for (const auto& [key, value] : good) {
    EXPECT_EQ(metadataProblem(model_files::without(good, key)), "metadata '" + key + "' is missing");
  }
  for (const std::string bad : {"-1", "8,,8", ",8", "8,", "abc", "8 8", "1.5"}) {
    EXPECT_EQ(metadataProblem(model_files::with(good, "num_heads", bad)),
              "metadata 'num_heads' is not a list of non-negative integers (" + bad + ")");
  }
  Entries twice = good, emptyKey = good;
  twice.emplace_back("T", "46");
  EXPECT_EQ(metadataProblem(twice), "metadata 'T' is given twice with different values");
  emptyKey.insert(emptyKey.end(), {{"", "a"}, {"", "b"}});
  EXPECT_EQ(metadataProblem(emptyKey), "metadata '' is given twice with different values");
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
