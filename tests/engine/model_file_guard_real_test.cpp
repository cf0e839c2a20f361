// Every model file on which the real engine would end the process: each
// case is built from the generated models in a temporary directory and
// loaded through the real node in a fresh process (a copy of this program,
// so that no voice has set up espeak-ng before), where the load must be
// refused without a call into the engine, and the node must then load the
// good model and speak or decode. A regression kills only that process and
// fails its test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "RealVoice.h"
#include "models/ModelMetadata.h"
#include "models/ModelPaths.h"
#include "stt/SherpaSTTNode.h"
#include "stt/SttFeeding.h"
#include "stt/SttTestFiles.h"
#include "support/KnownAudio.h"
#include "support/LogCapture.h"
#include "support/ModelFileBuilder.h"
#include "support/TempDir.h"
#include "tts/SherpaTTSNode.h"

using namespace quorvel;
using namespace quorvel::extensions::sherpa;
using model_files::Bytes;
using model_files::Entries;
namespace fs = std::filesystem;

namespace {

constexpr const char* kChildVariable = "QS_GUARD_CHILD_FILES";
const char* const kVoiceStem = "en_GB-southern_english_female-low";
const char* const kRecognizerModel = "ctc-epoch-30-avg-3-chunk-16-left-128.int8.with_runtime_opt.ort";
const fs::path kVoiceSubdir = fs::path("en_GB") / "vits-piper-en_GB-southern_english_female-low";

bool inChild() { return std::getenv(kChildVariable) != nullptr; }
// The generated models' "files" folder: beside this program, or, in a
// child, the one the parent named.
fs::path goodFiles() { return inChild() ? fs::path(std::getenv(kChildVariable)) : executableDirectory() / "files"; }
fs::path goodVoice() { return goodFiles() / kVoiceSubdir; }

// A scratch directory beside this program (so that a hard link to it works).
class ScratchDir : public test_kit::TempDir {
 public:
  ScratchDir() : TempDir("guard", executableDirectory()) {}
};

// Runs the current test again in a copy of this program inside `dir`, with
// the good models' folder in the environment; true when it passed.
bool passesInFreshProcess(const fs::path& dir) {
  return stt_test::runCurrentTestFromCopy(dir, "guard_test_copy",
                                          std::string(kChildVariable) + "='" + goodFiles().string() + "' ");
}

// In the parent: runs the current test in a fresh process, its result being
// this test's, and says so.
bool ranInFreshProcess() {
  if (inChild()) return false;
  ScratchDir dir;
  EXPECT_TRUE(passesInFreshProcess(dir.path()));
  return true;
}

Entries entriesOf(const ModelMetadata& metadata) { return Entries(metadata.begin(), metadata.end()); }

std::string randomBytes(size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(random());
  return s;
}

std::string readText(const fs::path& path) {
  const Bytes b = model_files::readBytes(path);
  return std::string(b.begin(), b.end());
}

// Renames metadata key `key` in an ORT file in place (same length), at
// the one occurrence the reader shows to be the metadata's.
Bytes renameOrtKey(const Bytes& model, const std::string& key, const std::string& renamed) {
  std::string pattern(4, '\0');
  for (int i = 0; i < 4; ++i) pattern[i] = static_cast<char>((key.size() >> (8 * i)) & 0xff);
  pattern += key;
  pattern += '\0';
  for (auto at = model.begin(); (at = std::search(at, model.end(), pattern.begin(), pattern.end())) != model.end(); ++at) {
    Bytes patched = model;
    std::copy(renamed.begin(), renamed.end(), patched.begin() + (at - model.begin()) + 4);
    const auto metadata = readOrtMetadata(MemoryBytes(patched));
    if (metadata && metadata->count(key) == 0 && metadata->count(renamed) == 1) return patched;
  }
  return {};
}

// ---- voice cases ------------------------------------------------------------------

// A voice set under `dir`: its model, tokens and data directory paths.
struct VoiceSet {
  std::string model, tokens, data;
};

struct VoiceCase {
  std::string name;
  std::string problem;  // what the refusal line must contain
  std::function<VoiceSet(const fs::path&)> build;
};

// The good voice under `dir`, with the model (ONNX unless `ort`) rewritten
// by `edit`; tokens and data are the good ones unless replaced later.
VoiceSet goodVoiceSet(const fs::path& dir, bool ort = false) {
  const fs::path model = dir / (ort ? "voice.ort" : "voice.onnx");
  fs::copy_file(goodVoice() / (std::string(kVoiceStem) + (ort ? ".with_runtime_opt.ort" : ".onnx")), model);
  fs::copy_file(goodVoice() / "tokens.txt", dir / "tokens.txt");
  fs::create_directory_symlink(fs::canonical(goodVoice() / "espeak-ng-data"), dir / "espeak-ng-data");
  return {model.string(), (dir / "tokens.txt").string(), (dir / "espeak-ng-data").string()};
}

VoiceCase metadataCase(const std::string& name, const std::string& problem, std::function<Entries(Entries)> edit) {
  return {name, problem, [edit](const fs::path& dir) {
            VoiceSet set = goodVoiceSet(dir);
            const Bytes model = model_files::readBytes(set.model);
            model_files::writeBytes(set.model, model_files::withOnnxMetadata(model, edit(entriesOf(*readModelMetadata(set.model)))));
            return set;
          }};
}

VoiceCase tokensCase(const std::string& name, const std::string& problem, std::function<std::string(std::string)> edit) {
  return {name, problem, [edit](const fs::path& dir) {
            VoiceSet set = goodVoiceSet(dir);
            model_files::writeText(set.tokens, edit(readText(set.tokens)));
            return set;
          }};
}

// Debian's data (the good voice's) as links, with `file` written anew.
VoiceCase dataCase(const std::string& name, const std::string& problem, std::function<void(const fs::path&, const fs::path&)> write) {
  return {name, problem, [write](const fs::path& dir) {
            VoiceSet set = goodVoiceSet(dir);
            fs::remove(set.data);
            const fs::path good = fs::canonical(goodVoice() / "espeak-ng-data");
            fs::create_directories(set.data);
            for (const auto& entry : fs::directory_iterator(good)) fs::create_symlink(entry.path(), set.data / entry.path().filename());
            write(good, set.data);
            return set;
          }};
}

void replaceFile(const fs::path& data, const char* name, const std::string& bytes) {
  fs::remove(data / name);
  model_files::writeText(data / name, bytes);
}

std::vector<VoiceCase> voiceCases() {
  using model_files::with;
  using model_files::without;
  std::vector<VoiceCase> cases;
  for (const char* key : {"sample_rate", "n_speakers", "language", "comment"}) {
    cases.push_back(metadataCase(std::string("missing_") + key, std::string("metadata '") + key + "' is missing",
                                 [key](Entries e) { return without(e, key); }));
  }
  for (const char* key : {"sample_rate", "n_speakers"}) {
    cases.push_back(metadataCase(std::string("negative_") + key, std::string("metadata '") + key + "' is negative (-1)",
                                 [key](Entries e) { return with(e, key, "-1"); }));
  }
  cases.push_back(metadataCase("comment_without_piper", "does not contain \"piper\"",
                               [](Entries e) { return with(e, "comment", "a voice"); }));
  for (const char* key : {"add_blank", "speaker_id", "version", "blank_id", "bos_id", "eos_id", "use_eos_bos", "pad_id",
                          "jieba", "has_g2pw"}) {
    cases.push_back(metadataCase(std::string("negative_") + key, std::string("metadata '") + key + "' is negative (-1)",
                                 [key](Entries e) { return with(e, key, "-1"); }));
  }
  cases.push_back({"ort_missing_sample_rate", "metadata 'sample_rate' is missing", [](const fs::path& dir) {
                     VoiceSet set = goodVoiceSet(dir, true);
                     model_files::writeBytes(set.model, renameOrtKey(model_files::readBytes(set.model), "sample_rate", "sample_ratx"));
                     return set;
                   }});
  cases.push_back({"ort_negative_sample_rate", "metadata 'sample_rate' is negative (-1600)", [](const fs::path& dir) {
                     VoiceSet set = goodVoiceSet(dir, true);
                     Bytes model = model_files::readBytes(set.model);
                     if (!model_files::patchOnce(model, "16000", "-1600")) model.clear();
                     model_files::writeBytes(set.model, model);
                     return set;
                   }});
  cases.push_back(tokensCase("tokens_duplicate_symbol", "duplicate symbol 'a' (first on line 1)",
                             [](std::string t) { return "a 300\n" + t; }));
  cases.push_back(tokensCase("tokens_multi_code_point", "line 1: symbol 'ab' is more than one character",
                             [](std::string t) { return "ab 300\n" + t; }));
  cases.push_back(tokensCase("tokens_blank_line", "line 3: blank line", [](std::string t) {
    const size_t second = t.find('\n', t.find('\n') + 1);
    return t.insert(second + 1, "\n");
  }));
  cases.push_back(tokensCase("tokens_trailing_blank_line", ": blank line", [](std::string t) { return t + "\n\n"; }));
  cases.push_back(dataCase("data_random_files", "phondata is data version", [](const fs::path&, const fs::path& data) {
    fs::remove_all(data);
    fs::create_directories(data);
    unsigned seed = 1;
    for (const char* name : {"phontab", "phonindex", "phondata", "intonations"}) model_files::writeText(data / name, randomBytes(4096, seed++));
  }));
  cases.push_back(dataCase("data_other_version", "phondata is data version 0x14802", [](const fs::path& good, const fs::path& data) {
    std::string phondata = readText(good / "phondata");
    phondata[0] = 0x02;
    replaceFile(data, "phondata", phondata);
  }));
  cases.push_back(dataCase("data_truncated_phontab", "phontab is cut short", [](const fs::path& good, const fs::path& data) {
    replaceFile(data, "phontab", readText(good / "phontab").substr(0, 100));
  }));
  cases.push_back(dataCase("data_phontab_without_the_voices_table", "which phontab lacks", [](const fs::path& good, const fs::path& data) {
    std::string phontab = readText(good / "phontab");
    const size_t firstTable = 4 + 4 + 32 + static_cast<unsigned char>(phontab[4]) * 16;
    phontab = phontab.substr(0, firstTable);
    phontab[0] = 1;
    replaceFile(data, "phontab", phontab);
  }));
  return cases;
}

// ---- recognizer cases --------------------------------------------------------------

struct RecognizerCase {
  std::string name;
  std::string problem;
  std::function<void(const fs::path& files)> build;  // writes the three files into `files`
};

void copyGoodRecognizer(const fs::path& files) {
  fs::create_directories(files);
  for (const char* name : {kRecognizerModel, "tokens.txt", "HLG.fst"}) fs::copy_file(goodFiles() / name, files / name);
}

std::vector<RecognizerCase> recognizerCases() {
  std::vector<RecognizerCase> cases;
  for (const auto& [key, value] : model_files::recognizerMetadata()) {
    std::string renamed = key;
    renamed.back() = renamed.back() == 'X' ? 'Y' : 'X';
    cases.push_back({"missing_" + key, "metadata '" + key + "' is missing", [key, renamed](const fs::path& files) {
                       copyGoodRecognizer(files);
                       model_files::writeBytes(files / kRecognizerModel,
                                               renameOrtKey(model_files::readBytes(files / kRecognizerModel), key, renamed));
                     }});
  }
  auto tokens = [](const std::string& name, const std::string& text) {
    return RecognizerCase{name, "Invalid tokens file: ", [text](const fs::path& files) {
                            copyGoodRecognizer(files);
                            model_files::writeText(files / "tokens.txt", text);
                          }};
  };
  cases.push_back(tokens("tokens_empty", ""));
  cases.push_back(tokens("tokens_without_blk", "\xE2\x96\x81HE 1\nLLO 2\n"));
  auto graph = [](const std::string& name, std::function<std::string(const std::string&)> edit) {
    return RecognizerCase{name, "Invalid decoding graph: ", [edit](const fs::path& files) {
                            copyGoodRecognizer(files);
                            model_files::writeText(files / "HLG.fst", edit(readText(files / "HLG.fst")));
                          }};
  };
  cases.push_back(graph("graph_empty", [](const std::string&) { return std::string(); }));
  cases.push_back(graph("graph_random", [](const std::string& g) { return randomBytes(g.size(), 9); }));
  cases.push_back(graph("graph_truncated", [](const std::string& g) { return g.substr(0, g.size() / 2); }));
  cases.push_back(graph("graph_last_field_out_of_range", [](const std::string& g) {
    std::string bad = g;
    // The last arc's next state, or the last state's arc count, made huge.
    bad[bad.size() - 1] = 0x40;
    return bad;
  }));
  return cases;
}

// ---- what each child does -----------------------------------------------------------

bool logged(const testing_support::LogCapture& logs, const std::string& prefix, const std::string& fragment) {
  for (const auto& line : logs.linesStartingWith(prefix)) {
    if (line.find(fragment) != std::string::npos) return true;
  }
  return false;
}

using real_voice::speaks;

std::optional<known_audio::KnownAudio> knownAudio() {
  for (auto& k : known_audio::readKnownAudio(goodFiles().parent_path() / "testdata")) {
    if (k.rate == 16000 && !k.wav.samples.empty()) return k;
  }
  return std::nullopt;
}

bool generatedModelsPresent() {
  return fs::exists(goodVoice() / (std::string(kVoiceStem) + ".onnx")) && fs::exists(goodFiles() / kRecognizerModel) &&
         fs::exists(goodFiles().parent_path() / "testdata" / "manifest.json");
}

class VoiceGuard : public ::testing::TestWithParam<VoiceCase> {
 protected:
  void SetUp() override {
    if (!generatedModelsPresent()) GTEST_SKIP() << "generated models missing (run scripts/models/generate.sh)";
  }
  // In the child: builds the case beside the program and loads it with the
  // "loadModel" action on a node that found no default voice.
  void refuseInChild(bool thenLoadTheGoodVoice) {
    ASSERT_FALSE(fs::exists(defaultTTSModelPath("en"))) << "the child must start without a voice";
    const fs::path dir = fs::current_path() / "case";
    fs::create_directories(dir);
    const VoiceSet set = GetParam().build(dir);
    testing_support::LogCapture logs;
    SherpaTTSNode node{QVAnyMap()};
    const auto result = node.callAction("loadModel", real_voice::loadModelParams(set.model, set.tokens, set.data));
    ASSERT_TRUE(result.isOk());
    EXPECT_FALSE(QVAny::convert<bool>(result.value()));
    EXPECT_TRUE(logged(logs, "[SherpaTTSNode] ", GetParam().problem)) << "no line containing: " << GetParam().problem;
    EXPECT_TRUE(logs.contains("[SherpaTTSNode] Failed to create Sherpa Offline TTS."));
    EXPECT_TRUE(logs.contains("[SherpaTTSNode] Check that the model files exist and are valid"));
    EXPECT_FALSE(logs.contains("[SherpaTTSNode] Calling SherpaOnnxCreateOfflineTts..."));
    if (!thenLoadTheGoodVoice) return;
    const fs::path good = goodVoice();
    EXPECT_TRUE(node.loadModel((good / (std::string(kVoiceStem) + ".onnx")).string(), (good / "tokens.txt").string(),
                               (good / "espeak-ng-data").string()));
    EXPECT_TRUE(speaks(node));
  }
};

class RecognizerGuard : public ::testing::TestWithParam<RecognizerCase> {
 protected:
  void SetUp() override {
    if (!generatedModelsPresent()) GTEST_SKIP() << "generated models missing (run scripts/models/generate.sh)";
  }
};

void PrintTo(const VoiceCase& c, std::ostream* out) { *out << c.name; }
void PrintTo(const RecognizerCase& c, std::ostream* out) { *out << c.name; }

template <typename Case>
std::string caseName(const ::testing::TestParamInfo<Case>& info) {
  return info.param.name;
}

}  // namespace

TEST_P(VoiceGuard, RefusedBeforeTheEngineIsCalled) {
  if (ranInFreshProcess()) return;
  refuseInChild(false);
}

TEST_P(VoiceGuard, RefusedCleanlyAndTheNodeThenSpeaksWithTheGoodVoice) {
  if (ranInFreshProcess()) return;
  refuseInChild(true);
}

INSTANTIATE_TEST_SUITE_P(EngineFatalVoiceFiles, VoiceGuard, ::testing::ValuesIn(voiceCases()), caseName<VoiceCase>);

// The bad files lie where the node's constructor looks for the recognizer,
// beside the child program.
TEST_P(RecognizerGuard, RefusedAtConstructionAndTheNodeThenDecodesWithTheGoodModel) {
  if (!inChild()) {
    ScratchDir dir;
    GetParam().build(dir.path() / "files");
    EXPECT_TRUE(passesInFreshProcess(dir.path()));
    return;
  }
  auto known = knownAudio();
  ASSERT_TRUE(known.has_value());
  testing_support::LogCapture logs;
  SherpaSTTNode node;
  EXPECT_TRUE(logged(logs, "[SherpaSTTNode] ", GetParam().problem)) << "no line containing: " << GetParam().problem;
  EXPECT_TRUE(logs.contains("[SherpaSTTNode] Sherpa failed to create recognizer"));
  EXPECT_TRUE(logs.contains("[SherpaSTTNode] Failed to load Sherpa model."));
  EXPECT_FALSE(logs.contains("[SherpaSTTNode] Calling SherpaOnnxCreateOnlineRecognizer..."));
  // Nothing decodes without a model; a bad graph let through would crash here.
  AudioBusFormat format{16000, 1};
  ASSERT_TRUE(node.setBusFormat(format));
  ASSERT_TRUE(stt_test::consumeInBlocks(node, known->wav.samples));
  EXPECT_EQ(node.processAudio(), "");
  // The same files again through a reload, then the good ones.
  EXPECT_FALSE(node.loadSherpaModel(resolveSTTModelPath(), resolveSTTTokensPath(), resolveSTTGraphPath()));
  ASSERT_TRUE(node.loadSherpaModel((goodFiles() / kRecognizerModel).string(), (goodFiles() / "tokens.txt").string(),
                                   (goodFiles() / "HLG.fst").string()));
  EXPECT_EQ(node.processAudio(), known->text);
}

INSTANTIATE_TEST_SUITE_P(EngineFatalRecognizerFiles, RecognizerGuard, ::testing::ValuesIn(recognizerCases()),
                         caseName<RecognizerCase>);
