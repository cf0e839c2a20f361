// Loading a voice, releasing it and everything that depends on it, and the
// exclusion of produce while that happens.
#include <cstdint>

#include <quorvel/Logger.h>

#include "TTSInternals.h"
#include "engine/EngineCall.h"
#include "engine/EngineConfig.h"
#include "engine/EngineVersion.h"
#include "engine/SharedEngineObjects.h"
#include "models/ModelPaths.h"
#include "models/VoiceFileChecks.h"

namespace quorvel::extensions::sherpa {

namespace {

std::string addressOf(const void* object) { return std::to_string(reinterpret_cast<uintptr_t>(object)); }

// An exception thrown inside the engine counts as a failed creation.
const SherpaOnnxOfflineTts* createEngine(const SherpaOnnxOfflineTtsConfig& config) {
  if (!engineVersionMatches("SherpaTTSNode")) return nullptr;
  return engineCall(SherpaTTSNode::Internals::kLogTag, "creating the voice",
                    [&config] { return SherpaOnnxCreateOfflineTts(&config); });
}

}  // namespace

SherpaTTSNode::Internals::Internals(SherpaTTSNode* owner, const std::string& language) : node(owner) {
  const std::string model = defaultTTSModelPath(language);
  const std::string tokens = defaultTTSTokensPath(language);
  const std::string dataDir = defaultTTSDataDirPath(language);
  Logger::debug(kLogTag + " Attempting to load TTS model for language: " + language);
  Logger::debug(kLogTag + " Model path: " + model);
  Logger::debug(kLogTag + " Tokens path: " + tokens);
  Logger::debug(kLogTag + " Data dir path: " + dataDir);
  if (!pathExists(model)) {
    Logger::error(kLogTag + " Model file does not exist at path: " + model);
    return;
  }
  Logger::debug(kLogTag + " Model file exists, attempting to load...");
  if (loadModel(model, tokens, dataDir)) {
    Logger::info(kLogTag + " Sherpa model loaded successfully: " + model +
                 ", tts=" + (tts != nullptr ? "valid" : "null") + ", this=" + addressOf(this));
  } else {
    Logger::error(kLogTag + " Failed to load Sherpa model.");
  }
}

SherpaTTSNode::Internals::~Internals() {
  Logger::info(kLogTag + " Destructor called - starting cleanup");
  // Kept for good: from here on produce renders silence until the object is gone.
  gate.closeForGood();
  tearingDown.store(true);  // a generation under way ends at its next sentence; no voice loads
  engine.closeForGood();    // work handed over by listeners is dropped
  cleanup();
  gate.awaitLastExit();
  Logger::info(kLogTag + " Destructor completed");
}

bool SherpaTTSNode::Internals::loadModel(const std::string& newModelPath, const std::string& newTokensPath,
                                         const std::string& newDataPath) {
  if (gate.insideProduce()) {
    // A listener on the audio thread: the engine is taken only if it is free
    // (or already this thread's); otherwise the load is handed to the thread
    // that holds it, and this call cannot say how it will end.
    EngineHold hold(engine, EngineHold::kTry);
    if (hold.held()) return loadModelHoldingEngine(newModelPath, newTokensPath, newDataPath);
    engine.defer([this, newModelPath, newTokensPath, newDataPath] {
      loadModelHoldingEngine(newModelPath, newTokensPath, newDataPath);
    });
    Logger::warning(kLogTag + " loadModel called on the audio thread while the engine is busy; the voice is "
                    "loaded when it is free: " + newModelPath);
    return false;
  }
  // Files the checks refuse cost the loaded voice nothing. A load that goes
  // ahead ends a generation under way at its next sentence rather than
  // waiting for the whole text: the reload drops that speech anyway.
  if (!checkVoiceFiles(newModelPath, newTokensPath, newDataPath)) return false;
  loadsWaiting.fetch_add(1);
  EngineHold hold(engine, EngineHold::kWait);
  loadsWaiting.fetch_sub(1);
  return installVoiceHoldingEngine(newModelPath, newTokensPath, newDataPath);
}

bool SherpaTTSNode::Internals::loadModelHoldingEngine(const std::string& newModelPath,
                                                      const std::string& newTokensPath,
                                                      const std::string& newDataPath) {
  return checkVoiceFiles(newModelPath, newTokensPath, newDataPath) &&
         installVoiceHoldingEngine(newModelPath, newTokensPath, newDataPath);
}

bool SherpaTTSNode::Internals::checkVoiceFiles(const std::string& newModelPath, const std::string& newTokensPath,
                                               const std::string& newDataPath) {
  Logger::info(kLogTag + " loadModel called with path: " + newModelPath);
  warnOfMissingFiles(kLogTag,
                     {{"Model file", newModelPath}, {"Tokens file", newTokensPath}, {"Data directory", newDataPath}});
  // The engine ends the process on some malformed voice files instead of
  // failing; those are refused here, before the loaded voice is torn down,
  // so that a wrong path leaves a working node speaking.
  const std::string problem = voiceFilesProblem(newModelPath, newTokensPath, newDataPath);
  if (problem.empty()) return true;
  Logger::error(kLogTag + " " + problem);
  Logger::error(kLogTag + " Failed to create Sherpa Offline TTS.");
  Logger::error(kLogTag + " Check that the model files exist and are valid");
  return false;
}

bool SherpaTTSNode::Internals::installVoiceHoldingEngine(const std::string& newModelPath,
                                                         const std::string& newTokensPath,
                                                         const std::string& newDataPath) {
  if (tearingDown.load()) {
    // A listener's load racing the destructor: a voice made now would
    // outlive the cleanup that has already run or is waiting to.
    Logger::error(kLogTag + " loadModel refused: the node is being destroyed");
    return false;
  }
  if (tts != nullptr) {
    Logger::info(kLogTag + " Model already loaded, cleaning up before reloading");
    cleanupHoldingEngine();
  }
  Logger::info(kLogTag + " Loading TTS model from: " + newModelPath);
  modelPath = newModelPath;
  tokensPath = newTokensPath;
  dataDirPath = newDataPath;
  fillVoiceConfig(config, modelPath, tokensPath, dataDirPath);
  Logger::info(kLogTag + " Calling SherpaOnnxCreateOfflineTts...");
  // Another node speaking with the same files lends its voice instead.
  tts = acquireSharedVoice(modelPath, tokensPath, dataDirPath, [this] { return createEngine(config); });
  // cleanup released the conversion; the graph still runs at sampleRate.
  restoreConversion();
  if (tts != nullptr) {
    Logger::info(kLogTag + " TTS model loaded successfully");
    return true;
  }
  Logger::error(kLogTag + " Failed to create Sherpa Offline TTS.");
  Logger::error(kLogTag + " Check that the model files exist and are valid");
  return false;
}

void SherpaTTSNode::Internals::cleanup() {
  EngineHold hold(engine, EngineHold::kWait);
  cleanupHoldingEngine();
}

void SherpaTTSNode::Internals::cleanupHoldingEngine() {
  Logger::info(kLogTag + " Cleaning up resources...");
  // A synthesis announced and not yet published (its listener reloads)
  // gives way; dropped speech gets no "finished" and starts no buffered text.
  raiseTo(dropBefore, nextSequence.load());
  bufferedSynthesisPending.store(false);
  if (gate.insideProduce()) {
    // A listener on the audio thread: the render step is paused inside
    // onPlaybackFinished, holding no segment, so the pointers and the queue
    // can be emptied here on its own thread. The segments are freed, and
    // the conversion replaced, by this produce call after its block.
    detachPlayback(nullptr);
    {
      // "stop" reads the progress's segments under this lock.
      std::lock_guard<std::mutex> streaming(streamingMutex);
      progress.forget();
    }
    Logger::info(kLogTag + " Clearing " + std::to_string(generatedAudioItems.size()) +
                 " generated audio items");
    gate.requestAtEndOfProduce(RenderGate::kReleaseItems);
  } else {
    std::unique_ptr<AudioGraphResampler> oldResampler;
    {
      std::lock_guard<std::mutex> format(formatMutex);
      RenderGate::Exclusion exclusion(gate);
      detachPlayback(&oldResampler);
      std::lock_guard<std::mutex> streaming(streamingMutex);
      progress.forget();  // "stop" reads its segments under this lock
    }
    // Nothing of the audio side can reach these any more: the pointers are
    // null, the queue is empty, the resampler is detached, and syntheses
    // wait for the engine.
    oldResampler.reset();
    Logger::info(kLogTag + " Clearing " + std::to_string(generatedAudioItems.size()) +
                 " generated audio items");
    for (auto& item : generatedAudioItems) item->releasable = true;
    freeReleasableItems();
  }
  if (tts != nullptr) {
    Logger::info(kLogTag + " Freeing TTS model");
    // Destroyed here only by its last user; other nodes sharing it speak on.
    releaseSharedVoice(tts);
    tts = nullptr;
  }
  Logger::info(kLogTag + " Cleanup completed");
}

void SherpaTTSNode::Internals::detachPlayback(std::unique_ptr<AudioGraphResampler>* detachedResampler) {
  Logger::info(kLogTag + " Clearing atomic pointers");
  currentItem.store(nullptr);
  nextItem.store(nullptr);
  queuedPieces.clear();
  if (!resampler) return;
  Logger::info(kLogTag + " Freeing resampler");
  if (detachedResampler != nullptr) {
    *detachedResampler = std::move(resampler);
  } else {
    gate.requestAtEndOfProduce(RenderGate::kRestoreConversion);
  }
}

}  // namespace quorvel::extensions::sherpa
