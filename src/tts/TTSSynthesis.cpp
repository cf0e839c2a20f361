// Turning one text into one published segment, and releasing the segments
// that no pointer names any more.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include <quorvel/Logger.h>

#include "TTSInternals.h"
#include "WordTiming.h"

namespace quorvel::extensions::sherpa {

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

void SherpaTTSNode::Internals::raiseTo(std::atomic<uint64_t>& value, uint64_t atLeast) {
  uint64_t seen = value.load();
  while (seen < atLeast && !value.compare_exchange_weak(seen, atLeast)) {
  }
}

QVAny SherpaTTSNode::Internals::synthesize(const std::string& text) {
  // The text has reached the node: a "stop" from now on drops it, and
  // anything older gives way to it (a generation under way at its next
  // sentence), since this text cuts in on it anyway.
  const uint64_t sequence = nextSequence.fetch_add(1);
  // A text too long to speak is refused later and cuts in on nothing.
  if (cleanedTextLength(text) <= kMaxSynthesisTextBytes) raiseTo(newestWholeText, sequence);
  if (gate.insideProduce()) {
    // A listener on the audio thread: never wait for the engine. When
    // another thread holds it, the text is spoken by that thread when it is
    // done (the engine's handed-over work); when this thread holds it (a
    // "synthesisStarted" listener), at once.
    const uint64_t cutBefore = answerCutPosition();
    auto published = std::make_shared<bool>(false);
    const bool ranHere = engine.defer([this, text, sequence, published] {
      *published = synthesizeHoldingEngine(text, SegmentKind::kWholeText, sequence);
    });
    if (!ranHere) return QVAny();  // handed over: what it cuts off is not known yet
    return QVAny(*published ? describeCutOff(sequence, cutBefore) : nothingCutOff());
  }
  const uint64_t cutBefore = answerCutPosition();
  EngineHold hold(engine, EngineHold::kWait);
  const bool published = synthesizeHoldingEngine(text, SegmentKind::kWholeText, sequence);
  return QVAny(published ? describeCutOff(sequence, cutBefore) : nothingCutOff());
}

bool SherpaTTSNode::Internals::superseded(uint64_t sequence) const {
  return sequence < dropBefore.load() || sequence < newestWholeText.load();
}

bool SherpaTTSNode::Internals::synthesizeHoldingEngine(const std::string& text, SegmentKind kind, uint64_t sequence,
                                                       bool prepared, uint64_t answerOffset) {
  const bool published = generateAndPublish(text, kind, sequence, prepared, answerOffset);
  // Text its listeners appended waited for it: a final token's flush, and,
  // when pieces are prepared ahead, any piece that is due (not on the audio
  // thread, which generates only what no append could prepare).
  if (synthesesRunning.load() == 0) synthesizeDueTextHoldingEngine(false, !prepareAhead || gate.insideProduce());
  return published;
}

bool SherpaTTSNode::Internals::generateAndPublish(const std::string& text, SegmentKind kind, uint64_t sequence,
                                                  bool prepared, uint64_t answerOffset) {
  Logger::debug(kLogTag + " synthesize called, tts=" + (tts != nullptr ? "valid" : "null") +
                ", this=" + std::to_string(reinterpret_cast<uintptr_t>(this)));
  releaseStaleAudio();
  if (tts == nullptr) {
    Logger::error(kLogTag + " synthesize is called but TTS instance is not initialized.");
    return false;
  }
  const std::string cleanedText = cleanTextForSynthesis(text);
  if (cleanedText.size() > kMaxSynthesisTextBytes) {
    Logger::error(kLogTag + " Text too long to synthesize: " + std::to_string(cleanedText.size()) +
                  " bytes (at most " + std::to_string(kMaxSynthesisTextBytes) + "); nothing is spoken.");
    return false;
  }
  // Dropped while it waited for the engine: nothing of it is announced.
  if (superseded(sequence)) return false;
  if (firstSynthesis.load()) {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    const long long millis = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
    Logger::info("[LATENCY][TTS_FIRST_SYNTHESIS] timestamp=" + std::to_string(millis) + " text=\"" + cleanedText +
                 "\"");
    firstSynthesis.store(false);
  }
  struct Running {
    std::atomic<int>& count;
    explicit Running(std::atomic<int>& c) : count(c) { count.fetch_add(1); }
    ~Running() { count.fetch_sub(1); }
  } running(synthesesRunning);

  QVAny startedPayload(QVAnyMap{{"text", QVAny(cleanedText)}, {"sequence", QVAny(static_cast<int64_t>(sequence))}});
  if (!prepared) {
    if (superseded(sequence)) return false;
    node->emitEvent(kSynthesisStarted, startedPayload);
    // The listeners may have stopped the node, reloaded it or begun a newer
    // text; then this text gives way before it costs a generation.
    if (superseded(sequence) || tts == nullptr) return false;
  }
  // Everything that can fail happens before the segment is published: once a
  // pointer names it, appending it to the list cannot throw.
  GrowingSegment segment;
  segment.owned.reset(new (std::nothrow) GeneratedAudioItem());
  segment.kind = kind;
  if (!segment.owned) return false;
  segment.owned->sequence = sequence;
  segment.owned->streamed = kind == SegmentKind::kPiece;
  segment.owned->answerOffset = answerOffset;
  segment.owned->words.prepare(cleanedText, sequence);
  try {
    segment.sentenceEnds = sentenceEnds(cleanedText);
  } catch (const std::bad_alloc&) {
    // No sentences: the words are spread over the whole segment at its end.
  }
  if (prepared) {
    segment.owned->announceAtTakeUp = true;
    segment.owned->startedPayload = std::move(startedPayload);
  }
  try {
    generatedAudioItems.reserve(generatedAudioItems.size() + 1);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return generate(cleanedText, segment);
}

// An item may be freed once no pointer names it (currentItem, nextItem, the
// piece queue) and no render pass can still hold it. The render step may
// have loaded a pointer and not yet stored it into currentItem, so a scan is
// trusted only when no render pass ran during it; otherwise the candidates
// stay for a later release. Nothing here waits. Inside produce (a listener
// on the audio thread) a pass is always running: the release is asked of
// that produce call, which makes it after its block.
void SherpaTTSNode::Internals::releaseStaleAudio() {
  if (gate.insideProduce()) {
    gate.requestAtEndOfProduce(RenderGate::kReleaseItems);
    return;
  }
  releaseUnnamedItems();
}

bool SherpaTTSNode::Internals::releaseUnnamedItems() {
  const uint64_t before = gate.passMark();
  if (before % 2 == 1) return false;
  bool anyStale = false;
  for (const auto& item : generatedAudioItems) {
    GeneratedAudioItem* candidate = item.get();
    candidate->releasable = candidate != currentItem.load() && candidate != nextItem.load() &&
                            !queuedPieces.contains(candidate);
    anyStale = anyStale || candidate->releasable;
  }
  if (!anyStale) return true;
  if (gate.passMark() != before) return false;
  return freeReleasableItems();
}

bool SherpaTTSNode::Internals::freeReleasableItems() {
  std::vector<std::unique_ptr<GeneratedAudioItem>> released;
  try {
    released.reserve(generatedAudioItems.size());
  } catch (const std::bad_alloc&) {
    return false;
  }
  {
    // isAudioPlaying reads an item it loaded under streamingMutex; taking
    // the items off the list under it too keeps that read off them, and
    // once off the list no pointer can name them again. The audio thread
    // only tries the lock.
    std::unique_lock<std::mutex> streaming(streamingMutex, std::defer_lock);
    if (gate.insideProduce() ? !streaming.try_lock() : (streaming.lock(), false)) return false;
    for (auto& item : generatedAudioItems) {
      if (!item->releasable) continue;
      progress.forgetItem(item.get());  // "stop" reads it under this lock
      released.push_back(std::move(item));
    }
    std::erase_if(generatedAudioItems, [](const auto& item) { return item == nullptr; });
  }
  return true;  // `released` frees them here, with no lock held
}

}  // namespace quorvel::extensions::sherpa
