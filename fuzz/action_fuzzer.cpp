// libFuzzer target for the dynamic surface of both nodes: callAction,
// setValue and getValue with arbitrary names and parameter maps, on a
// SherpaTTSNode and a SherpaSTTNode driven against the engine test double.
//
// Each input is a run of calls decoded with FuzzedDataProvider. Action
// names are mostly the real ones, sometimes arbitrary bytes; parameter keys
// mostly the real ones; values of every QVAny kind (empty, bool, integers
// up to the extremes, doubles incl. NaN and infinities, strings with NULs
// and invalid UTF-8, maps nested up to three deep). Between calls a block
// is rendered now and then, so that segments play and finish.
//
// Every call must return, and its result must be the one the surface
// promises: for the text-to-speech node's four actions success, or the
// error naming the first missing or wrongly typed parameter; for every
// other name, and for every action of the recognition node, "Unknown
// action: NAME"; for every value key, "Unknown value: KEY". "loadModel"
// must answer true exactly when each path either names nothing (the files
// are then left to the engine, and the double takes any) or names the good
// file of its role in a small voice made at start-up; the voice-file checks
// refuse every other existing entry (a folder, /dev/null, a token table of
// the wrong kind, the good file of another role). Any other result aborts;
// an exception or a memory error crashes.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <quorvel/Logger.h>
#include <quorvel/QVAny.h>

#include "fake_engine/FakeEngine.h"
#include "stt/SherpaSTTNode.h"
#include "support/ModelFileBuilder.h"
#include "support/TempDir.h"
#include "support/TestBlock.h"
#include "tts/SherpaTTSNode.h"

namespace {

namespace fs = std::filesystem;
using namespace quorvel;
using quorvel::extensions::sherpa::SherpaSTTNode;
using quorvel::extensions::sherpa::SherpaTTSNode;

[[noreturn]] void violation(const std::string& what, const std::string& detail) {
  std::fprintf(stderr, "action_fuzzer: %s: %s\n", what.c_str(), detail.c_str());
  std::abort();
}

const char* const kActions[] = {"synthesize", "appendStreamingText", "clearStreamingBuffer", "stop", "loadModel"};
const char* const kKeys[] = {"text", "token", "isFinal", "modelPath", "tokensPath", "dataPath"};

// A voice whose files pass the checks, and a token table that does not
// (the recognizer's kind), in a folder of their own.
struct VoiceFixture {
  test_kit::TempDir folder{"action_fuzzer_voice"};
  fs::path model, tokens, dataDir, wrongTokens;

  VoiceFixture() {
    if (folder.path().empty()) violation("setup", "no temporary folder");
    model = folder / "voice.ort";
    tokens = folder / "tokens.txt";
    dataDir = folder / "espeak-ng-data";
    wrongTokens = folder / "recognizer-tokens.txt";
    model_files::writeBytes(model, model_files::ortModel(model_files::voiceMetadata()));
    model_files::writeText(tokens, model_files::kTinyVoiceTokens);
    model_files::writeTinyEspeakData(dataDir);
    model_files::writeText(wrongTokens, "<blk> 0\na 1\n");
  }
};

const VoiceFixture& voice() {
  static const VoiceFixture fixture;
  return fixture;
}

std::string anyString(FuzzedDataProvider& in, size_t maxLength) {
  switch (in.ConsumeIntegralInRange<int>(0, 5)) {
    case 0: return "Hello world.";
    case 1: return std::string("a\0b\xff\xfe\xc3(", 7);
    case 2: return std::string(in.ConsumeIntegralInRange<size_t>(200, 5000), in.ConsumeIntegral<char>());
    case 5: {
      const VoiceFixture& v = voice();
      return in.PickValueInArray({v.model.string(), v.tokens.string(), v.dataDir.string(), v.wrongTokens.string(),
                                  std::string("/"), std::string("."), std::string("/dev/null")});
    }
    default: return in.ConsumeRandomLengthString(maxLength);
  }
}

QVAny anyValue(FuzzedDataProvider& in, int depth) {
  switch (in.ConsumeIntegralInRange<int>(0, depth > 0 ? 9 : 8)) {
    case 0: return QVAny();
    case 1: return QVAny(in.ConsumeBool());
    case 2: return QVAny(in.ConsumeIntegral<int64_t>());
    case 3: return QVAny(in.PickValueInArray({std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max(),
                                              int64_t{0}, int64_t{-1}, int64_t{1}}));
    case 4: return QVAny(in.ConsumeFloatingPoint<double>());
    case 5: return QVAny(in.PickValueInArray({std::numeric_limits<double>::quiet_NaN(),
                                              std::numeric_limits<double>::infinity(),
                                              -std::numeric_limits<double>::infinity(),
                                              std::numeric_limits<double>::max(), -0.0}));
    case 6: return QVAny(in.PickValueInArray({"true", "false", "1", "0", "yes", ""}));
    case 7:
    case 8: return QVAny(anyString(in, 64));
    default: {
      QVAnyMap map;
      const int entries = in.ConsumeIntegralInRange<int>(0, 3);
      for (int i = 0; i < entries; ++i) map.set(in.ConsumeRandomLengthString(8), anyValue(in, depth - 1));
      return QVAny(std::move(map));
    }
  }
}

QVAnyMap anyParams(FuzzedDataProvider& in) {
  QVAnyMap params;
  const int entries = in.ConsumeIntegralInRange<int>(0, 5);
  for (int i = 0; i < entries; ++i) {
    const std::string key = in.ConsumeIntegralInRange<int>(0, 7) < 7 ? in.PickValueInArray(kKeys)
                                                                     : in.ConsumeRandomLengthString(12);
    params.set(key, anyValue(in, 3));
  }
  return params;
}

std::string anyName(FuzzedDataProvider& in) {
  return in.ConsumeIntegralInRange<int>(0, 7) < 7 ? std::string(in.PickValueInArray(kActions))
                                                  : in.ConsumeRandomLengthString(24);
}

bool isScalar(const QVAny& v) { return !v.isEmpty() && v.asMap() == nullptr; }

// The error the node must give for a required parameter, "" when it is usable.
std::string parameterError(const QVAnyMap& params, const std::string& key, const char* expected) {
  if (!params.hasKey(key)) return "Missing parameter: " + key;
  const QVAny v = params.at(key);
  if (isScalar(v)) return {};
  return "Wrong type for parameter: " + key + " (" + typeName(v.type()) + ", expected " + expected + ")";
}

// Absent and empty are false; only a map is refused.
std::string optionalBoolError(const QVAnyMap& params, const std::string& key) {
  if (!params.hasKey(key) || params.at(key).asMap() == nullptr) return {};
  return parameterError(params, key, "boolean");
}

// Whether the voice-file checks let `path` through in the role whose good
// file is `good`: nothing there (left to the engine), or that very file.
bool passesTheChecks(const std::string& path, const fs::path& good) {
  std::error_code error;
  if (!fs::exists(path, error)) return true;
  return fs::equivalent(path, good, error);
}

bool loadExpected(const QVAnyMap& params) {
  const VoiceFixture& v = voice();
  const auto path = [&](const char* key) { return QVAny::convert<std::string>(params.at(key)); };
  return passesTheChecks(path("modelPath"), v.model) && passesTheChecks(path("tokensPath"), v.tokens) &&
         passesTheChecks(path("dataPath"), v.dataDir);
}

// What the text-to-speech node must answer: "" for success, else the error.
std::string expectedTTSError(const std::string& name, const QVAnyMap& params) {
  std::vector<std::string> errors;
  if (name == "synthesize") {
    errors = {parameterError(params, "text", "string")};
  } else if (name == "appendStreamingText") {
    errors = {parameterError(params, "token", "string"), optionalBoolError(params, "isFinal")};
  } else if (name == "clearStreamingBuffer" || name == "stop") {
    return {};
  } else if (name == "loadModel") {
    errors = {parameterError(params, "modelPath", "string"), parameterError(params, "tokensPath", "string"),
              parameterError(params, "dataPath", "string")};
  } else {
    return "Unknown action: " + name;
  }
  for (const auto& e : errors)
    if (!e.empty()) return e;
  return {};
}

void checkTTSAction(SherpaTTSNode& node, const std::string& name, const QVAnyMap& params) {
  const Result<QVAny> r = node.callAction(name, params);
  const std::string expected = expectedTTSError(name, params);
  if (!expected.empty()) {
    if (r.isOk()) violation("TTS action succeeded, expected an error", expected);
    if (r.error() != expected) violation("TTS action gave '" + r.error() + "'", expected);
    return;
  }
  if (!r.isOk()) violation("TTS action '" + name + "' failed", r.error());
  if (name == "loadModel") {
    const bool* loaded = r.value().asBool();
    if (loaded == nullptr) violation("loadModel", "not a boolean");
    if (*loaded != loadExpected(params)) {
      violation("loadModel", std::string("answered ") + (*loaded ? "true" : "false") + " for " +
                                 QVAny::convert<std::string>(params.at("modelPath")) + ", " +
                                 QVAny::convert<std::string>(params.at("tokensPath")) + ", " +
                                 QVAny::convert<std::string>(params.at("dataPath")));
    }
  } else if (name == "stop" || (name == "synthesize" && !r.value().isEmpty())) {
    // What was heard and what not ("synthesize": of what the text cut off;
    // nothing when that is not known yet).
    const QVAnyMap* answer = r.value().asMap();
    if (answer == nullptr) violation(name, "the answer is not a map");
    for (const char* key : {"heardText", "unheardText"}) {
      if (!answer->hasKey(key) || answer->at(key).asString() == nullptr) {
        violation(name, std::string("answer without the string '") + key + "'");
      }
    }
  } else if (name != "synthesize" && !r.value().isEmpty()) {
    violation("TTS action '" + name + "'", "result holds a value");
  }
}

void checkUnknownAction(QuorvelObject& node, const std::string& name, const QVAnyMap& params) {
  const Result<QVAny> r = node.callAction(name, params);
  if (r.isOk() || r.error() != "Unknown action: " + name) violation("STT action '" + name + "'", r.error());
}

void checkValues(QuorvelObject& node, const std::string& key, const QVAny& value) {
  const Result<void> set = node.setValue(key, value);
  if (set.isOk() || set.error() != "Unknown value: " + key) violation("setValue '" + key + "'", set.error());
  const Result<QVAny> get = node.getValue(key);
  if (get.isOk() || get.error() != "Unknown value: " + key) violation("getValue '" + key + "'", get.error());
}

void renderBlocks(SherpaTTSNode& node, int blocks) {
  test_kit::TestBlock block(2, 160);
  for (int i = 0; i < blocks; ++i) node.produce(block.bus());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Logger::setLevel(LogLevel::None);
  voice();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fake_engine::reset();
  FuzzedDataProvider in(data, size);
  auto tts = std::make_unique<SherpaTTSNode>(QVAnyMap());
  // Actions and values leave the recognition node as it was: one serves all
  // inputs (its ten-second ring buffer is costly to build each time).
  static SherpaSTTNode* const stt = new SherpaSTTNode();
  // No voice lies beside the fuzzer; the double takes the good one.
  const VoiceFixture& v = voice();
  if (!tts->loadModel(v.model.string(), v.tokens.string(), v.dataDir.string())) violation("setup", "no voice");
  fake_engine::knobs().samplesPerText = 480;
  for (int call = 0; call < 64 && in.remaining_bytes() > 0; ++call) {
    switch (in.ConsumeIntegralInRange<int>(0, 9)) {
      case 0: {
        const std::string name = anyName(in);
        checkUnknownAction(*stt, name, anyParams(in));
        break;
      }
      case 1: {
        const std::string key = in.ConsumeRandomLengthString(16);
        checkValues(in.ConsumeBool() ? static_cast<QuorvelObject&>(*tts) : *stt, key, anyValue(in, 2));
        break;
      }
      case 2: renderBlocks(*tts, in.ConsumeIntegralInRange<int>(1, 8)); break;
      default: {
        const std::string name = anyName(in);
        checkTTSAction(*tts, name, anyParams(in));
        break;
      }
    }
  }
  return 0;
}
