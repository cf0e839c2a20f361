// Construction, model loading and cleanup of SherpaSTTNode::Internals.
#include <cstring>

#include <quorvel/Logger.h>

#include "STTInternals.h"
#include "engine/EngineCall.h"
#include "engine/EngineConfig.h"
#include "engine/EngineVersion.h"
#include "engine/SharedEngineObjects.h"
#include "models/ModelPaths.h"
#include "models/RecognizerFileChecks.h"

namespace quorvel::extensions::sherpa {

namespace {

void logCreateRecognizerFailure() {
  const std::string& tag = SherpaSTTNode::Internals::kLogTag;
  Logger::error(tag + " Sherpa failed to create recognizer");
  Logger::error(tag + " Check that the model files exist and are valid");
}

}  // namespace

SherpaSTTNode::Internals::Internals(unsigned int inputBufferCapacity)
    : inputBuffer(std::make_unique<AudioRingBuffer<float>>(inputBufferCapacity, 1, false)),
      inputBufferCapacity(inputBufferCapacity) {
  std::memset(&config, 0, sizeof(config));
  const std::string modelPath = resolveSTTModelPath();
  const std::string tokensPath = resolveSTTTokensPath();
  const std::string graphPath = resolveSTTGraphPath();
  if (pathExists(modelPath)) {
    if (!loadSherpaModel(modelPath, tokensPath, graphPath)) {
      Logger::error(kLogTag + " Failed to load Sherpa model.");
    }
  } else {
    Logger::warning(kLogTag + " Model file has not been loaded.");
  }
}

SherpaSTTNode::Internals::~Internals() {
  Logger::info(kLogTag + " Destructor called - starting cleanup");
  cleanup();
  Logger::info(kLogTag + " Destructor completed");
}

bool SherpaSTTNode::Internals::loadSherpaModel(const std::string& modelPath, const std::string& tokensPath,
                                               const std::string& graphPath) {
  Logger::info(kLogTag + " loadSherpaModel called with path: " + modelPath);
  warnOfMissingFiles(kLogTag, {{"Model file", modelPath}, {"Tokens file", tokensPath}, {"Graph file", graphPath}});
  // Checked before the loaded recognizer is released, so files refused here
  // leave it decoding. Files that pass but fail in the engine (missing ones
  // among them) find it released already.
  if (!filesUsable(modelPath, tokensPath, graphPath)) {
    logCreateRecognizerFailure();
    return false;
  }
  if (recognizer != nullptr) {
    Logger::info(kLogTag + " Model already loaded, cleaning up before reloading");
    cleanup();
  }
  Logger::info(kLogTag + " Loading STT model from: " + modelPath);

  fillRecognizerConfig(config, modelPath, tokensPath, graphPath);
  if (endpointsEnabled) enableRecognizerEndpoints(config, endpointSilence);
  Logger::info(kLogTag + " Calling SherpaOnnxCreateOnlineRecognizer...");
  // Another node decoding with the same files lends its recognizer; the
  // stream stays this node's own.
  const std::string settings = endpointsEnabled ? "endpoints after " + std::to_string(endpointSilence) + " s" : "";
  recognizer = acquireSharedRecognizer(modelPath, tokensPath, graphPath, settings, [this] {
    return engineCall(kLogTag, "creating the recognizer", [this] { return SherpaOnnxCreateOnlineRecognizer(&config); });
  });
  if (recognizer == nullptr) {
    logCreateRecognizerFailure();
    return false;
  }
  if (!createStream()) {
    releaseSharedRecognizer(recognizer);
    recognizer = nullptr;
    return false;
  }
  Logger::info(kLogTag + " STT model loaded successfully");
  return true;
}

// A wrong engine build would misread the configuration record; a model
// without its metadata, a bad graph or token table would crash or end the
// process inside the engine. Each problem found is logged. Missing files are
// left to the engine, whose create returns null for them.
bool SherpaSTTNode::Internals::filesUsable(const std::string& modelPath, const std::string& tokensPath,
                                           const std::string& graphPath) {
  bool usable = engineVersionMatches("SherpaSTTNode");
  if (const std::string problem = recognizerModelProblem(modelPath); !problem.empty()) {
    Logger::error(kLogTag + " " + problem);
    usable = false;
  }
  if (pathExists(graphPath) && !isValidDecodingGraph(graphPath)) {
    Logger::error(kLogTag + " Invalid decoding graph: " + graphPath);
    usable = false;
  }
  if (pathExists(tokensPath) && !isValidTokensFile(tokensPath)) {
    Logger::error(kLogTag + " Invalid tokens file: " + tokensPath);
    usable = false;
  }
  return usable;
}

bool SherpaSTTNode::Internals::createStream() {
  startSegmentOnNewStream();
  Logger::info(kLogTag + " Calling SherpaOnnxCreateOnlineStream...");
  stream = engineCall(kLogTag, "creating the stream", [this] { return SherpaOnnxCreateOnlineStream(recognizer); });
  streamSampleRate = 0;
  if (stream == nullptr) {
    Logger::error(kLogTag + " Failed to create online stream");
    return false;
  }
  return true;
}

void SherpaSTTNode::Internals::cleanup() {
  Logger::info(kLogTag + " Cleaning up resources...");
  if (stream != nullptr) {
    Logger::info(kLogTag + " Freeing stream");
    SherpaOnnxDestroyOnlineStream(stream);
    stream = nullptr;
  }
  streamSampleRate = 0;
  if (recognizer != nullptr) {
    Logger::info(kLogTag + " Freeing recognizer");
    releaseSharedRecognizer(recognizer);
    recognizer = nullptr;
  }
  Logger::info(kLogTag + " Cleanup completed");
}

}  // namespace quorvel::extensions::sherpa
