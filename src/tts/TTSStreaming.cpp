// The streaming text buffer: tokens gathered and spoken piece by piece,
// paced by the end of playback. Pieces are cut only while the engine is
// held, so they are synthesised, queued and heard in the order of their
// text, and each waits behind the one before it instead of replacing it.
#include <algorithm>

#include <quorvel/Logger.h>

#include "StreamingSplit.h"
#include "TTSInternals.h"

namespace quorvel::extensions::sherpa {

bool SherpaTTSNode::Internals::mayPrepareAhead() {
  // Behind what plays and behind every piece already prepared: the audio
  // thread then has nothing left to generate when a piece ends.
  return prepareAhead && !queuedPieces.full() && synthesesRunning.load() == 0;
}

void SherpaTTSNode::Internals::noteStreamingText() {
  streamingPieceDue.store(finalRequested || findSplitPoint(streamingBuffer) > 0);
}

bool SherpaTTSNode::Internals::isAudioPlaying() {
  // Items are freed only under streamingMutex and while the engine is held;
  // the caller holds one of them, so the items read here stay alive.
  if (synthesesRunning.load() > 0) return true;
  const uint64_t cutoff = dropBefore.load();
  if (GeneratedAudioItem* newest = queuedPieces.back(); newest != nullptr && newest->sequence >= cutoff) return true;
  GeneratedAudioItem* next = nextItem.load();
  if (next != nullptr && next->sequence > takenUpSequence.load() && next->sequence >= cutoff &&
      !next->complete.load())
    return true;
  GeneratedAudioItem* item = currentItem.load();
  return item != nullptr && !item->complete.load() && item->sequence >= cutoff;
}

void SherpaTTSNode::Internals::appendStreamingText(const std::string& token, bool isFinal) {
  {
    std::lock_guard<std::mutex> streaming(streamingMutex);
    streamingBuffer += token;
    noteAnswerText(token);
    if (isFinal) finalRequested = true;
    noteStreamingText();
    // While speech plays the token just waits: the end of playback takes
    // the next piece, unless it may be prepared ahead now.
    if (!finalRequested && ((isAudioPlaying() && !mayPrepareAhead()) || findSplitPoint(streamingBuffer) == 0))
      return;
  }
  if (gate.insideProduce()) {
    engine.defer([this] { synthesizeDueTextHoldingEngine(false, false); });
    return;
  }
  EngineHold hold(engine, EngineHold::kWait);
  synthesizeDueTextHoldingEngine(false, false);
}

void SherpaTTSNode::Internals::synthesizeDueTextHoldingEngine(bool afterFinished, bool finalOnly) {
  // Memory exhaustion here must not leave the thread by an exception (it may
  // be the audio thread); the piece is then lost.
  try {
    // A listener of a running synthesis appended: its piece comes after.
    if (synthesesRunning.load() > 0) return;
    std::string piece;
    bool prepared = false;  // made while speech plays, announced when it starts
    uint64_t sequence = 0;
    uint64_t answerOffset = 0;  // where the piece starts in the answer's text
    {
      std::lock_guard<std::mutex> streaming(streamingMutex);
      answerOffset = answerBase + answerText.size() - std::min(answerText.size(), cleanedTextLength(streamingBuffer));
      if (streamingBuffer.empty() && !finalRequested) return;
      if (queuedPieces.full()) return;  // stays in the buffer for a later turn
      const bool playing = isAudioPlaying();
      if (finalRequested) {
        // A final token's flush: queued behind whatever plays.
        piece.swap(streamingBuffer);
        finalRequested = false;
        prepared = prepareAhead && playing;
      } else if (!finalOnly && !playing) {
        piece = takePiece(streamingBuffer);
      } else if (!finalOnly && !afterFinished && mayPrepareAhead()) {
        piece = takePiece(streamingBuffer);
        prepared = true;
      }
      noteStreamingText();
      // Drawn as the text leaves the buffer: a "stop" either finds the text
      // still held or the piece already numbered before its cut-off.
      if (!piece.empty()) sequence = nextSequence.fetch_add(1);
    }
    if (piece.empty()) return;
    if (afterFinished) Logger::debug(kLogTag + " Synthesizing buffered text after audio finished: " + piece);
    synthesizeHoldingEngine(piece, SegmentKind::kPiece, sequence, prepared, answerOffset);
  } catch (...) {
  }
}

void SherpaTTSNode::Internals::clearStreamingBuffer() {
  std::lock_guard<std::mutex> streaming(streamingMutex);
  clearStreamingBufferHoldingLock();
}

void SherpaTTSNode::Internals::clearStreamingBufferHoldingLock() {
  // The held text leaves the answer with the buffer (the buffer is its tail).
  answerText.resize(answerText.size() - std::min(answerText.size(), cleanedTextLength(streamingBuffer)));
  streamingBuffer.clear();
  finalRequested = false;
  noteStreamingText();
  firstSynthesis.store(true);
}

void SherpaTTSNode::Internals::synthesizeBufferedText() {
  // Never wait on the audio thread: with the engine busy (a control-thread
  // synthesis or load) the text stays in the buffer and the render step
  // retries once nothing plays (retryBufferedSynthesis). With nothing held
  // the engine is not even tried.
  if (!streamingPieceDue.load()) return;
  EngineHold hold(engine, EngineHold::kTry);
  if (!hold.held()) {
    bufferedSynthesisPending.store(true);
    return;
  }
  synthesizeDueTextHoldingEngine(true, false);
}

void SherpaTTSNode::Internals::retryBufferedSynthesis() {
  EngineHold hold(engine, EngineHold::kTry);
  if (!hold.held()) return;  // still busy: try again next block
  bufferedSynthesisPending.store(false);
  synthesizeDueTextHoldingEngine(true, false);
}


void SherpaTTSNode::Internals::noteAnswerText(const std::string& token) {
  // The front heard in full is no longer needed: "stop" reports from where
  // the listener is.
  const uint64_t heard = answerHeardUpTo.load();
  if (heard > answerBase) {
    const uint64_t drop = std::min<uint64_t>(heard - answerBase, answerText.size());
    answerText.erase(0, drop);
    answerBase += drop;
  }
  for (char c : token)
    if (c != '*') answerText.push_back(c);
}

}  // namespace quorvel::extensions::sherpa
