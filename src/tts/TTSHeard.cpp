// What the listener heard: "stop"'s answer and what a whole text cut off.
// "stop" seals the progress of the segment that plays, so what it reports as
// heard is exactly what the "spoken" events delivered; a whole text reports
// what was heard when it was ready to play. Both build the rest from the
// answer's text, under the streaming lock, which also keeps the segments
// they read from being freed.
#include <algorithm>

#include "TTSInternals.h"

namespace quorvel::extensions::sherpa {

QVAnyMap SherpaTTSNode::Internals::stop() {
  // Everything numbered before this moment is dropped: the render step fades
  // out what plays within one block and skips what waits; a synthesis under
  // way ends at its next sentence and announces nothing more. Under the
  // buffer's lock, so that no piece is between leaving the buffer and
  // drawing its number.
  std::lock_guard<std::mutex> streaming(streamingMutex);
  const uint64_t cutoff = nextSequence.load();
  const uint64_t droppedBefore = dropBefore.load();  // an earlier stop reported those
  raiseTo(dropBefore, cutoff);
  bufferedSynthesisPending.store(false);
  // After the cut-off: a segment starting now sees it and seals itself.
  const PlaybackProgress::Seen seen = progress.seal();
  std::string unheard;
  // A whole text published and not taken up yet was never heard.
  if (GeneratedAudioItem* next = nextItem.load(); next != nullptr && next->sequence > takenUpSequence.load() &&
                                                  next->sequence >= droppedBefore && next->sequence < cutoff &&
                                                  next != seen.item)
    unheard = next->words.text();
  QVAnyMap answer = describeHeard(seen, unheard, answerHeardUpTo.load());
  clearStreamingBufferHoldingLock();
  // The next token begins a new answer.
  answerBase += answerText.size();
  answerText.clear();
  raiseTo(answerHeardUpTo, answerBase);
  return answer;
}

QVAnyMap SherpaTTSNode::Internals::describeCutOff(uint64_t cutter, uint64_t cutBefore) {
  std::lock_guard<std::mutex> streaming(streamingMutex);
  const PlaybackProgress::Seen seen = progress.cutOffBy(cutter);
  const uint64_t heardUpTo = answerHeardUpTo.load();
  QVAnyMap answer = describeHeard(seen, std::string(), heardUpTo, cutBefore);
  // The pieces it dropped are accounted for: a later "stop" reports from
  // after them.
  raiseTo(answerHeardUpTo, cutBefore);
  return answer;
}

QVAnyMap SherpaTTSNode::Internals::nothingCutOff() {
  return QVAnyMap{{"heardText", QVAny(std::string())}, {"unheardText", QVAny(std::string())}};
}

uint64_t SherpaTTSNode::Internals::answerCutPosition() {
  std::lock_guard<std::mutex> streaming(streamingMutex);
  return answerBase + answerText.size() - std::min(answerText.size(), cleanedTextLength(streamingBuffer));
}

QVAnyMap SherpaTTSNode::Internals::describeHeard(const PlaybackProgress::Seen& seen, const std::string& pending,
                                                 uint64_t heardUpTo, uint64_t answerEnd) {
  std::string heard;
  std::string unheard;
  QVAnyMap answer;
  uint64_t answerFrom = heardUpTo;  // the answer's text from here was not heard
  if (GeneratedAudioItem* item = seen.item; item != nullptr) {
    const SpokenWords& words = item->words;
    const uint64_t textEnd = item->answerOffset + words.text().size();
    if (seen.finished) {
      // Reported by its "finished"; its end may not be noted yet.
      if (item->streamed) answerFrom = std::max(answerFrom, textEnd);
    } else {
      answer.set("sequence", QVAny(static_cast<int64_t>(item->sequence)));
      heard = words.heardText(seen.wordsSpoken);
      if (item->streamed) {
        answerFrom = std::max(answerFrom, textEnd - words.unheardText(seen.wordsSpoken).size());
      } else {
        unheard = words.unheardText(seen.wordsSpoken);
      }
    }
  }
  unheard += pending;
  const uint64_t answerTextEnd = answerBase + answerText.size();
  const uint64_t from = std::clamp(answerFrom, answerBase, answerTextEnd);
  const uint64_t to = std::clamp(answerEnd, from, answerTextEnd);
  unheard.append(answerText, static_cast<std::size_t>(from - answerBase), static_cast<std::size_t>(to - from));
  answer.set("heardText", QVAny(heard));
  answer.set("unheardText", QVAny(unheard));
  return answer;
}

}  // namespace quorvel::extensions::sherpa
