// The streaming text buffer: tokens gathered and spoken piece by piece,
// paced by the end of playback.
#include <quorvel/Logger.h>

#include "StreamingSplit.h"
#include "TTSInternals.h"

namespace quorvel::extensions::sherpa {

bool SherpaTTSNode::Internals::isAudioPlaying() {
  // Control threads free items only under streamingMutex (releaseStaleAudio,
  // cleanup), which the caller holds; the audio thread frees them only after
  // it has nulled currentItem and then taken streamingMutex to cut the piece
  // it synthesises. So the item read here stays alive.
  GeneratedAudioItem* item = currentItem.load();
  return item != nullptr && !item->complete.load();
}

void SherpaTTSNode::Internals::appendStreamingText(const std::string& token, bool isFinal) {
  std::string textToSynthesize;
  {
    std::lock_guard<std::mutex> streaming(streamingMutex);
    streamingBuffer += token;
    const bool playing = isAudioPlaying();
    if (isFinal) {
      textToSynthesize.swap(streamingBuffer);
    } else if (!playing) {
      textToSynthesize = takePiece(streamingBuffer);
    }
  }
  if (!textToSynthesize.empty()) synthesize(textToSynthesize);
}

void SherpaTTSNode::Internals::clearStreamingBuffer() {
  std::lock_guard<std::mutex> streaming(streamingMutex);
  streamingBuffer.clear();
  firstSynthesis.store(true);
}

void SherpaTTSNode::Internals::synthesizeBufferedText() {
  // Never wait on the audio thread: with the engine busy (a control-thread
  // synthesis or load) the text stays in the buffer and the render step
  // retries once nothing plays (retryBufferedSynthesis).
  std::unique_lock<std::mutex> engine(engineMutex, std::try_to_lock);
  if (!engine.owns_lock()) {
    bufferedSynthesisPending.store(true);
    return;
  }
  synthesizeBufferedTextHoldingEngine();
}

void SherpaTTSNode::Internals::retryBufferedSynthesis() {
  std::unique_lock<std::mutex> engine(engineMutex, std::try_to_lock);
  if (!engine.owns_lock()) return;  // still busy: try again next block
  bufferedSynthesisPending.store(false);
  // With the engine held no synthesis can release items, so nextItem is safe
  // to read. A newly published item about to play takes the text up itself
  // when it finishes.
  GeneratedAudioItem* next = nextItem.load();
  if (next != nullptr && next != currentItem.load() && !next->complete.load()) return;
  synthesizeBufferedTextHoldingEngine();
}

void SherpaTTSNode::Internals::synthesizeBufferedTextHoldingEngine() {
  // Memory exhaustion here must not leave the audio thread by an exception;
  // the piece is then lost.
  try {
    std::string textToSynthesize;
    {
      std::lock_guard<std::mutex> streaming(streamingMutex);
      if (streamingBuffer.empty()) return;
      textToSynthesize = takePiece(streamingBuffer);
    }
    if (textToSynthesize.empty()) return;
    Logger::debug("[SherpaTTSNode] Synthesizing buffered text after audio finished: " + textToSynthesize);
    synthesisOnAudioThread = true;
    synthesizeHoldingEngine(textToSynthesize);
  } catch (...) {
  }
  synthesisOnAudioThread = false;
}

}  // namespace quorvel::extensions::sherpa
