// Turning one text into one published segment, and releasing the segments
// that no pointer names any more.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <exception>
#include <new>
#include <thread>

#include <quorvel/Logger.h>

#include "TTSInternals.h"

namespace quorvel::extensions::sherpa {

namespace {

// An exception thrown inside the engine (a token id beyond the model's
// table, a token table without "_", an unknown espeak voice) counts as no
// result; unlike a plain null result it is reported.
const SherpaOnnxGeneratedAudio* generate(const SherpaOnnxOfflineTts* tts, const std::string& text, int32_t speaker) {
  try {
    return SherpaOnnxOfflineTtsGenerate(tts, text.c_str(), speaker, 1.0f);
  } catch (const std::exception& e) {
    Logger::error(std::string("[SherpaTTSNode] Engine error while synthesizing: ") + e.what());
  } catch (...) {
    Logger::error("[SherpaTTSNode] Engine error while synthesizing: unknown");
  }
  return nullptr;
}

}  // namespace

std::string SherpaTTSNode::Internals::cleanTextForSynthesis(const std::string& text) {
  std::string cleaned;
  cleaned.reserve(text.size());
  for (char c : text) {
    if (c != '*') cleaned.push_back(c);
  }
  return cleaned;
}

size_t SherpaTTSNode::Internals::cleanedTextLength(const std::string& text) {
  return text.size() - static_cast<size_t>(std::count(text.begin(), text.end(), '*'));
}

void SherpaTTSNode::Internals::synthesize(const std::string& text) {
  std::lock_guard<std::mutex> engine(engineMutex);
  synthesizeHoldingEngine(text);
}

void SherpaTTSNode::Internals::synthesizeHoldingEngine(const std::string& text) {
  Logger::debug(std::string("[SherpaTTSNode] synthesize called, tts=") + (tts != nullptr ? "valid" : "null") +
                ", this=" + std::to_string(reinterpret_cast<uintptr_t>(this)));
  releaseStaleAudio();
  if (tts == nullptr) {
    Logger::error("[SherpaTTSNode] synthesize is called but TTS instance is not initialized.");
    return;
  }
  const std::string cleanedText = cleanTextForSynthesis(text);
  if (cleanedText.size() > kMaxSynthesisTextBytes) {
    Logger::error("[SherpaTTSNode] Text too long to synthesize: " + std::to_string(cleanedText.size()) +
                  " bytes (at most " + std::to_string(kMaxSynthesisTextBytes) + "); nothing is spoken.");
    return;
  }
  if (firstSynthesis.load()) {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    const long long millis = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
    Logger::info("[LATENCY][TTS_FIRST_SYNTHESIS] timestamp=" + std::to_string(millis) + " text=\"" + cleanedText +
                 "\"");
    firstSynthesis.store(false);
  }
  node->emitEvent("synthesisStarted", QVAny(QVAnyMap{{"text", QVAny(cleanedText)}}));
  const SherpaOnnxGeneratedAudio* audio = generate(tts, cleanedText, speakerId);
  if (audio == nullptr) return;
  // Everything that can fail happens before the item is published: once
  // nextItem names it, appending it to the list cannot throw.
  std::unique_ptr<GeneratedAudioItem> item(new (std::nothrow) GeneratedAudioItem(audio));
  if (!item) {
    SherpaOnnxDestroyOfflineTtsGeneratedAudio(audio);
    return;
  }
  try {
    generatedAudioItems.reserve(generatedAudioItems.size() + 1);
  } catch (const std::bad_alloc&) {
    return;  // the item, never published, takes its audio with it
  }
  nextItem.store(item.get());
  generatedAudioItems.push_back(std::move(item));
}

// An item is stale when neither nextItem nor currentItem names it. The render
// step may have loaded nextItem and not yet stored it into currentItem; an
// item in that window is stale by the pointers alone. So stale candidates are
// rechecked after any render pass that was running when they were found has
// ended: a pass that starts later can no longer reach them through nextItem
// (which never names an item again once it has moved on), and one that took
// a candidate up has stored it into currentItem by then. On the audio thread
// (the synthesis after "finished") the render step is this very caller,
// outside that window, and nothing is awaited.
void SherpaTTSNode::Internals::releaseStaleAudio() {
  auto isStale = [this](const GeneratedAudioItem* item) {
    return item != currentItem.load() && item != nextItem.load();
  };
  bool anyStale = false;
  for (const auto& item : generatedAudioItems) anyStale = anyStale || isStale(item.get());
  if (!anyStale) return;

  if (synthesisOnAudioThread) {
    std::erase_if(generatedAudioItems, [&](const auto& item) { return isStale(item.get()); });
    return;
  }
  const uint64_t pass = renderPasses.load();
  if (pass % 2 == 1) {
    while (renderPasses.load() == pass) std::this_thread::yield();
  }
  // isAudioPlaying reads an item under streamingMutex; freeing under it too
  // keeps that read off released items.
  std::lock_guard<std::mutex> streaming(streamingMutex);
  std::erase_if(generatedAudioItems, [&](const auto& item) { return isStale(item.get()); });
}

}  // namespace quorvel::extensions::sherpa
