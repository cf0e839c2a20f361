// Loading a voice, releasing it and everything that depends on it, and the
// exclusion of produce while that happens.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <thread>

#include <quorvel/Logger.h>

#include "TTSInternals.h"
#include "engine/EngineVersion.h"
#include "models/ModelPaths.h"
#include "models/VoiceFileChecks.h"

namespace quorvel::extensions::sherpa {

namespace {

std::string addressOf(const void* object) { return std::to_string(reinterpret_cast<uintptr_t>(object)); }

// An exception thrown inside the engine counts as a failed creation.
const SherpaOnnxOfflineTts* createEngine(const SherpaOnnxOfflineTtsConfig& config) {
  if (!engineVersionMatches("SherpaTTSNode")) return nullptr;
  try {
    return SherpaOnnxCreateOfflineTts(&config);
  } catch (...) {
    return nullptr;
  }
}

}  // namespace

SherpaTTSNode::Internals::ProduceExclusion::ProduceExclusion(Internals& internals) : internals_(internals) {
  internals_.produceExclusions.fetch_add(1);
  // A produce that entered before the request finishes its block; one that
  // enters after it sees the request and leaves at once.
  while (internals_.produceInFlight.load() != 0) std::this_thread::yield();
}

SherpaTTSNode::Internals::ProduceExclusion::~ProduceExclusion() { internals_.produceExclusions.fetch_sub(1); }

SherpaTTSNode::Internals::Internals(SherpaTTSNode* owner, const std::string& language) : node(owner) {
  const std::string model = defaultTTSModelPath(language);
  const std::string tokens = defaultTTSTokensPath(language);
  const std::string dataDir = defaultTTSDataDirPath(language);
  Logger::debug("[SherpaTTSNode] Attempting to load TTS model for language: " + language);
  Logger::debug("[SherpaTTSNode] Model path: " + model);
  Logger::debug("[SherpaTTSNode] Tokens path: " + tokens);
  Logger::debug("[SherpaTTSNode] Data dir path: " + dataDir);
  if (!pathExists(model)) {
    Logger::error("[SherpaTTSNode] Model file does not exist at path: " + model);
    return;
  }
  Logger::debug("[SherpaTTSNode] Model file exists, attempting to load...");
  if (loadModel(model, tokens, dataDir)) {
    Logger::info("[SherpaTTSNode] Sherpa model loaded successfully: " + model +
                 ", tts=" + (tts != nullptr ? "valid" : "null") + ", this=" + addressOf(this));
  } else {
    Logger::error("[SherpaTTSNode] Failed to load Sherpa model.");
  }
}

SherpaTTSNode::Internals::~Internals() {
  Logger::info("[SherpaTTSNode] Destructor called - starting cleanup");
  // Kept for good: from here on produce renders silence until the object is gone.
  produceExclusions.fetch_add(1);
  cleanup();
  Logger::info("[SherpaTTSNode] Destructor completed");
}

bool SherpaTTSNode::Internals::loadModel(const std::string& newModelPath, const std::string& newTokensPath,
                                         const std::string& newDataPath) {
  std::lock_guard<std::mutex> engine(engineMutex);
  Logger::info("[SherpaTTSNode] loadModel called with path: " + newModelPath);
  if (!pathExists(newModelPath)) {
    Logger::warning("[SherpaTTSNode] Model file does not exist at path: " + newModelPath);
  }
  if (!pathExists(newTokensPath)) {
    Logger::warning("[SherpaTTSNode] Tokens file does not exist at path: " + newTokensPath);
  }
  if (!pathExists(newDataPath)) {
    Logger::warning("[SherpaTTSNode] Data directory does not exist at path: " + newDataPath);
  }
  if (tts != nullptr) {
    Logger::info("[SherpaTTSNode] Model already loaded, cleaning up before reloading");
    cleanupHoldingEngine();
  }
  Logger::info("[SherpaTTSNode] Loading TTS model from: " + newModelPath);
  modelPath = newModelPath;
  tokensPath = newTokensPath;
  dataDirPath = newDataPath;
  std::memset(&config, 0, sizeof config);
  config.model.vits.model = modelPath.c_str();
  config.model.vits.tokens = tokensPath.c_str();
  config.model.vits.data_dir = dataDirPath.c_str();
  // The engine ends the process on some malformed voice files instead of
  // failing; those are refused here and the engine is not called.
  if (const std::string problem = voiceFilesProblem(modelPath, tokensPath, dataDirPath); problem.empty()) {
    Logger::info("[SherpaTTSNode] Calling SherpaOnnxCreateOfflineTts...");
    tts = createEngine(config);
  } else {
    Logger::error("[SherpaTTSNode] " + problem);
  }
  // cleanup released the conversion; the graph still runs at sampleRate.
  restoreConversion();
  if (tts != nullptr) {
    Logger::info("[SherpaTTSNode] TTS model loaded successfully");
    return true;
  }
  Logger::error("[SherpaTTSNode] Failed to create Sherpa Offline TTS.");
  Logger::error("[SherpaTTSNode] Check that the model files exist and are valid");
  return false;
}

void SherpaTTSNode::Internals::cleanup() {
  std::lock_guard<std::mutex> engine(engineMutex);
  cleanupHoldingEngine();
}

void SherpaTTSNode::Internals::cleanupHoldingEngine() {
  Logger::info("[SherpaTTSNode] Cleaning up resources...");
  std::unique_ptr<AudioGraphResampler> oldResampler;
  {
    std::lock_guard<std::mutex> format(formatMutex);
    ProduceExclusion exclusion(*this);
    Logger::info("[SherpaTTSNode] Clearing atomic pointers");
    currentItem.store(nullptr);
    nextItem.store(nullptr);
    // Dropped speech gets no "finished" and starts no buffered text.
    bufferedSynthesisPending.store(false);
    if (resampler) {
      Logger::info("[SherpaTTSNode] Freeing resampler");
      oldResampler = std::move(resampler);
    }
  }
  // Nothing of the audio side can reach these any more: both pointers are
  // null, the resampler is detached, and syntheses wait for engineMutex.
  oldResampler.reset();
  Logger::info("[SherpaTTSNode] Clearing " + std::to_string(generatedAudioItems.size()) + " generated audio items");
  {
    // isAudioPlaying may be reading an item it loaded before the pointers
    // were cleared; it does so under streamingMutex.
    std::lock_guard<std::mutex> streaming(streamingMutex);
    generatedAudioItems.clear();
  }
  if (tts != nullptr) {
    Logger::info("[SherpaTTSNode] Freeing TTS model");
    SherpaOnnxDestroyOfflineTts(tts);
    tts = nullptr;
  }
  Logger::info("[SherpaTTSNode] Cleanup completed");
}

}  // namespace quorvel::extensions::sherpa
