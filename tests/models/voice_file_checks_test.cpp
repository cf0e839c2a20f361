// The voice checks: metadata rules, token-table rules and the espeak-ng data
// directory, on the generated voice, on Debian's espeak-ng data and on
// broken copies of each.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "models/ModelPaths.h"
#include "models/VoiceFileChecks.h"
#include "stt/SttTestFiles.h"
#include "support/ModelFileBuilder.h"

using namespace quorvel::extensions::sherpa;
using model_files::Bytes;
using model_files::Entries;
using model_files::voiceMetadata;
using model_files::with;
using model_files::without;
namespace fs = std::filesystem;

namespace {

const fs::path kDebianData = "/usr/lib/x86_64-linux-gnu/espeak-ng-data";

fs::path voiceDir() {
  return executableDirectory() / "files" / "en_GB" / "vits-piper-en_GB-southern_english_female-low";
}

std::string metadataProblem(const Entries& entries) {
  return voiceMetadataProblem(ModelMetadata(entries.begin(), entries.end()));
}

// A copy of Debian's data made of links, with `replaced` left out.
fs::path linkedDataCopy(const fs::path& into, const std::string& replaced) {
  fs::create_directories(into);
  for (const auto& entry : fs::directory_iterator(kDebianData)) {
    if (entry.path().filename() != replaced) fs::create_symlink(entry.path(), into / entry.path().filename());
  }
  return into;
}

}  // namespace

TEST(VoiceMetadataRules, AcceptTheGeneratedVoiceAndAMinimalOne) {
  EXPECT_EQ(metadataProblem(voiceMetadata()), "");
  EXPECT_EQ(metadataProblem({{"sample_rate", "22050"}, {"n_speakers", "0"}, {"language", "German"}, {"comment", "a piper voice"}}), "");
  // atoi reads the leading digits, as the engine does.
  EXPECT_EQ(metadataProblem(with(voiceMetadata(), "sample_rate", "16000 Hz")), "");
  const fs::path model = voiceDir() / "en_GB-southern_english_female-low.onnx";
  if (fs::exists(model)) {
    EXPECT_EQ(voiceFilesProblem(model.string(), (voiceDir() / "tokens.txt").string(), (voiceDir() / "espeak-ng-data").string()), "");
  }
}

TEST(VoiceMetadataRules, RefuseWhatEndsTheEngine) {
  const std::pair<Entries, std::string> cases[] = {
      {without(voiceMetadata(), "sample_rate"), "metadata 'sample_rate' is missing"},
      {without(voiceMetadata(), "n_speakers"), "metadata 'n_speakers' is missing"},
      {without(voiceMetadata(), "language"), "metadata 'language' is missing"},
      {without(voiceMetadata(), "comment"), "metadata 'comment' is missing"},
      {with(voiceMetadata(), "language", ""), "metadata 'language' is missing"},
      {with(voiceMetadata(), "sample_rate", std::string("\0" "16000", 6)), "metadata 'sample_rate' is missing"},
      {with(voiceMetadata(), "sample_rate", "-16000"), "metadata 'sample_rate' is negative (-16000)"},
      {with(voiceMetadata(), "sample_rate", "4294967295"), "metadata 'sample_rate' is negative (4294967295)"},
      {with(voiceMetadata(), "sample_rate", "abc"), "metadata 'sample_rate' is not a positive integer (abc)"},
      {with(voiceMetadata(), "n_speakers", " -1"), "metadata 'n_speakers' is negative ( -1)"},
      {with(voiceMetadata(), "comment", "coqui"), "metadata 'comment' does not contain \"piper\": not a piper voice"},
      {with(voiceMetadata(), "jieba", "1"), "metadata 'jieba' is 1: the voice needs a dictionary, which is not configured"},
      {with(voiceMetadata(), "frontend", "characters"), "metadata 'frontend' is \"characters\": the voice needs a lexicon, which is not configured"},
  };
  for (const auto& [entries, expected] : cases) EXPECT_EQ(metadataProblem(entries), expected);
  for (const char* key : {"add_blank", "speaker_id", "version", "blank_id", "bos_id", "eos_id", "use_eos_bos", "pad_id",
                          "jieba", "has_g2pw"}) {
    EXPECT_EQ(metadataProblem(with(voiceMetadata(), key, "-2")), std::string("metadata '") + key + "' is negative (-2)");
  }
  Entries twice = voiceMetadata(), same = twice, emptyKey = twice;
  twice.emplace_back("sample_rate", "-1");
  EXPECT_EQ(metadataProblem(twice), "metadata 'sample_rate' is given twice with different values");
  same.emplace_back("sample_rate", "16000");
  EXPECT_EQ(metadataProblem(same), "");
  // A conflict under the empty key is one too, and must not hide a
  // conflicting "comment" behind it.
  emptyKey.insert(emptyKey.end(), {{"", ""}, {"", "English"}, {"comment", "not the voice's kind"}});
  EXPECT_EQ(metadataProblem(emptyKey), "metadata '' is given twice with different values");
}

TEST(VoiceTokenRules, AcceptTablesTheEngineReads) {
  for (const std::string table : {"_ 0\n^ 1\n$ 2\n  3\na 4", "_ 0\n^ 1\n$ 2\n 3\na 4\n", "_ 0\r\n^\t1\r\n$  2 \r\n3\r\n",
                                  "_ 0\n^ 1\n$ 2\n\xC9\x99 3\n\xF0\x9F\x98\x80 4\n"}) {
    EXPECT_EQ(voiceTokensProblem(table), "") << table;
  }
  const fs::path real = voiceDir() / "tokens.txt";
  if (fs::exists(real)) {
    EXPECT_EQ(voiceTokensProblem(stt_test::readText(real)), "");
  }
}

TEST(VoiceTokenRules, RefuseWhatEndsTheEngineNamingTheLine) {
  const std::pair<std::string, std::string> cases[] = {
      {"_ 0\n^ 1\n$ 2\na 3\na 4\n", "line 5: duplicate symbol 'a' (first on line 4)"},
      {"_ 0\n^ 1\n$ 2\n 3\n4\n", "line 5: duplicate symbol ' ' (first on line 4)"},
      {"_ 0\n^ 1\n\n$ 2\n", "line 3: blank line"},
      {"_ 0\n^ 1\n$ 2\n\n", "line 4: blank line"},
      {"_ 0\n^ 1\n$ 2\n \t\r\n", "line 4: blank line"},
      {"\n", "line 1: blank line"},
      {"_ 0\n^ 1\n$ 2\nab 3\n", "line 4: symbol 'ab' is more than one character"},
      {"_ 0\n^ 1\n$ 2\na\xCC\x81 3\n", "line 4: symbol 'a\xCC\x81' is more than one character"},
      {"_ 0\n\xFF 1\n", "line 2: symbol is not valid UTF-8"},
      {"_ 0\n\xC0\xAF 1\n", "line 2: symbol is not valid UTF-8"},  // overlong '/'
      {"_ 0\n^ 1 2\n", "line 2: expected 'SYMBOL ID', got '^ 1 2'"},
      {"_ 0\n^ x\n", "line 2: expected 'SYMBOL ID', got '^ x'"},
      {"_ -1\n", "line 1: expected 'SYMBOL ID', got '_ -1'"},
      {"_ 99999999999\n", "line 1: expected 'SYMBOL ID', got '_ 99999999999'"},
      {"^ 1\n$ 2\n", "the symbol '_' is missing"},
      {"_ 0\n$ 2\n", "the symbol '^' is missing"},
      {"_ 0\n^ 1\n", "the symbol '$' is missing"},
      {"", "the symbol '_' is missing"},
  };
  for (const auto& [table, expected] : cases) EXPECT_EQ(voiceTokensProblem(table), expected);
}

TEST(VoiceFiles, NameTheFileAndSkipMissingOnes) {
  stt_test::TempDir dir;
  const fs::path model = dir.path() / "voice.onnx", tokens = dir.path() / "tokens.txt", data = dir.path() / "data";
  model_files::writeBytes(model, model_files::onnxModel(voiceMetadata()));
  model_files::writeText(tokens, model_files::kTinyVoiceTokens);
  model_files::writeTinyEspeakData(data);
  const auto problem = [&](const fs::path& m) { return voiceFilesProblem(m.string(), tokens.string(), data.string()); };
  EXPECT_EQ(problem(model), "");
  EXPECT_EQ(voiceFilesProblem("/nonexistent/m.onnx", "/nonexistent/t.txt", "/nonexistent/d"), "");

  model_files::writeText(tokens, "_ 0\n^ 1\n$ 2\na 3\na 4\n");
  EXPECT_EQ(problem(model), "Tokens file " + tokens.string() + " line 5: duplicate symbol 'a' (first on line 4)");
  model_files::writeText(tokens, "_ 0\n");
  EXPECT_EQ(problem(model), "Tokens file " + tokens.string() + ": the symbol '^' is missing");
  model_files::writeText(tokens, model_files::kTinyVoiceTokens);

  model_files::writeBytes(model, model_files::onnxModel(without(voiceMetadata(), "n_speakers")));
  EXPECT_EQ(problem(model), "Model file " + model.string() + ": metadata 'n_speakers' is missing");
  const fs::path ortModel = dir.path() / "voice.ort";
  model_files::writeBytes(ortModel, model_files::onnxModel(voiceMetadata()));
  EXPECT_EQ(problem(ortModel), "Model file " + ortModel.string() + ": cannot be read as an ORT model");
  EXPECT_EQ(problem(dir.path()), "Model file " + dir.path().string() + ": not a regular file");
  EXPECT_EQ(voiceFilesProblem("/nonexistent/m.onnx", "/nonexistent/t.txt", tokens.string()),
            "Data directory " + tokens.string() + ": not a directory");

  // A gigabyte token table is refused by its size, not read.
  const fs::path huge = dir.path() / "huge.txt";
  model_files::writeText(huge, "");
  fs::resize_file(huge, uint64_t{1} << 30);
  EXPECT_EQ(voiceFilesProblem("/nonexistent/m.onnx", huge.string(), "/nonexistent/d"),
            "Tokens file " + huge.string() + ": cannot be read or is too large");
}

TEST(EspeakData, DebiansDataAndTheMinimalOnePass) {
  stt_test::TempDir dir;
  model_files::writeTinyEspeakData(dir.path());
  EXPECT_EQ(espeakDataProblem(dir.path().string()), "");
  if (!fs::exists(kDebianData)) GTEST_SKIP() << "Debian's espeak-ng-data is not installed";
  EXPECT_EQ(espeakDataProblem(kDebianData.string()), "");
}

TEST(EspeakData, RefuseWhatIsNotEspeakData) {
  stt_test::TempDir dir;
  auto tiny = [&](const std::string& name) {
    const fs::path d = dir.path() / name;
    model_files::writeTinyEspeakData(d);
    return d;
  };
  const fs::path emptyDir = dir.path() / "empty";
  fs::create_directories(emptyDir);
  EXPECT_EQ(espeakDataProblem(emptyDir.string()), "phontab is missing: not espeak-ng data");
  for (const char* name : {"phonindex", "phondata", "intonations"}) {
    const fs::path d = tiny(std::string("without-") + name);
    fs::remove(d / name);
    EXPECT_EQ(espeakDataProblem(d.string()), std::string(name) + " is missing: not espeak-ng data");
  }
  const fs::path version = tiny("version");
  model_files::writeBytes(version / "phondata", {0x02, 0x48, 0x01, 0x00, 0x22, 0x56, 0, 0});
  EXPECT_EQ(espeakDataProblem(version.string()), "phondata is data version 0x14802, expected 0x14801");
  const fs::path shortData = tiny("short");
  model_files::writeBytes(shortData / "phondata", {0x01, 0x48});
  EXPECT_EQ(espeakDataProblem(shortData.string()), "phondata is too short");
  const fs::path text = tiny("text");
  for (const char* name : {"phontab", "phonindex", "phondata", "intonations"}) model_files::writeText(text / name, "hello world\n");
  EXPECT_EQ(espeakDataProblem(text.string()), "phondata is data version 0x6c6c6568, expected 0x14801");
  const fs::path unknownTable = tiny("unknown-table");
  fs::create_directories(unknownTable / "lang" / "gmw");
  model_files::writeText(unknownTable / "lang" / "gmw" / "en-GB-x-rp", "name English\nlanguage en-gb\nphonemes en-rp\n");
  EXPECT_EQ(espeakDataProblem(unknownTable.string()),
            "voice file lang/gmw/en-GB-x-rp names the phoneme table 'en-rp', which phontab lacks");
  // The verdict on a directory is kept while its top-level files and folders
  // are unchanged, so the good variant is a directory of its own.
  const fs::path knownTable = tiny("known-table");
  fs::create_directories(knownTable / "lang" / "gmw");
  model_files::writeText(knownTable / "lang" / "gmw" / "en-GB-x-rp", "name English\nphonemes base\n");
  EXPECT_EQ(espeakDataProblem(knownTable.string()), "");
  // A changed phondata is looked at again.
  model_files::writeBytes(knownTable / "phondata", {0x02, 0x48, 0x01, 0x00, 0x22, 0x56, 0, 0});
  EXPECT_EQ(espeakDataProblem(knownTable.string()), "phondata is data version 0x14802, expected 0x14801");
}

TEST(EspeakData, PhontabLayoutIsWalkedWithinTheFile) {
  Bytes tiny = {1, 0, 0, 0, 3, 0, 0, 0, 'b', 'a', 's', 'e'};
  tiny.resize(4 + 4 + 32 + 3 * 16, 0);
  const std::string good(tiny.begin(), tiny.end());
  EXPECT_EQ(phontabProblem(good), "");
  for (size_t length = 0; length < good.size(); ++length) {
    EXPECT_NE(phontabProblem(good.substr(0, length)), "") << length;
  }
  std::string none = good, tooMany = good, forward = good, unterminated = good;
  none[0] = 0;
  tooMany[0] = static_cast<char>(151);
  forward[5] = 1;  // table 0 includes table 0
  for (size_t i = 8; i < 40; ++i) unterminated[i] = 'x';
  EXPECT_EQ(phontabProblem(none), "phontab holds 0 tables");
  EXPECT_EQ(phontabProblem(tooMany), "phontab holds 151 tables");
  EXPECT_EQ(phontabProblem(forward), "phontab table 0 includes a later table");
  EXPECT_EQ(phontabProblem(unterminated), "phontab table 0 has an unterminated name");

  if (!fs::exists(kDebianData)) return;
  const std::string debian = stt_test::readText(kDebianData / "phontab");
  EXPECT_EQ(phontabProblem(debian), "");
  // Debian's data with its phontab cut short: espeak-ng crashes on it.
  stt_test::TempDir dir;
  const fs::path cut = linkedDataCopy(dir.path() / "cut", "phontab");
  for (size_t length : {size_t{0}, size_t{3}, size_t{100}, debian.size() / 2, debian.size() - 1}) {
    model_files::writeText(cut / "phontab", debian.substr(0, length));
    EXPECT_NE(espeakDataProblem(cut.string()), "") << length;
  }
}
