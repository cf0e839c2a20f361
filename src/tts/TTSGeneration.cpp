// Running the engine on one text into a growing segment: the engine hands
// over each sentence's samples as it makes them, the segment is published
// with the first of them, and the render step plays what is ready while the
// rest is generated. Returning 0 from the callback ends a generation that
// no longer matters ("stop", a newer whole text, a reload, teardown).
#include <quorvel/Logger.h>

#include <algorithm>
#include <vector>

#include "TTSInternals.h"
#include "WordTiming.h"
#include "engine/EngineCall.h"

namespace quorvel::extensions::sherpa {

namespace {

struct CallbackArg {
  SherpaTTSNode::Internals* internals;
  void* segment;
};

}  // namespace

int32_t SherpaTTSNode::Internals::onGeneratedSamples(const float* samples, int32_t n, void* arg) {
  auto* call = static_cast<CallbackArg*>(arg);
  return call->internals->acceptSamples(*static_cast<GrowingSegment*>(call->segment), samples, n) ? 1 : 0;
}

bool SherpaTTSNode::Internals::generate(const std::string& text, GrowingSegment& segment) {
  CallbackArg arg{this, &segment};
  const SherpaOnnxGeneratedAudio* audio = nullptr;
  // An exception thrown inside the engine (a token id beyond the model's
  // table, a token table without "_", an unknown espeak voice) counts as no
  // result; unlike a plain null result it is reported.
  audio = engineCall(kLogTag, "synthesizing", [&] {
    return SherpaOnnxOfflineTtsGenerateWithCallbackWithArg(tts, text.c_str(), speakerId, 1.0f,
                                                           &Internals::onGeneratedSamples, &arg);
  });
  GeneratedAudioItem* item = segment.published != nullptr ? segment.published : segment.owned.get();
  if (audio != nullptr) {
    // The result is the sentences joined; whatever of it no callback
    // brought (none, for a text without sentences) is added here.
    const int32_t ready = item->samplesReady();
    if (!segment.endedEarly && audio->n > ready) item->append(audio->samples + ready, audio->n - ready);
    SherpaOnnxDestroyOfflineTtsGeneratedAudio(audio);
    // Every word is timed before generation is marked done: playback can
    // then not reach the end of the segment before its last word is.
    if (!segment.endedEarly) timeRemainingWords(item);
  }
  item->finishGeneration();
  if (segment.published == nullptr && audio != nullptr && !segment.endedEarly && !superseded(item->sequence))
    publish(segment);
  return segment.published != nullptr;
}

bool SherpaTTSNode::Internals::acceptSamples(GrowingSegment& segment, const float* samples, int32_t n) {
  GeneratedAudioItem* item = segment.published != nullptr ? segment.published : segment.owned.get();
  if (superseded(item->sequence) || loadsWaiting.load() > 0 || tearingDown.load()) {
    segment.endedEarly = true;
    return false;
  }
  if (!item->append(samples, n)) {
    Logger::warning(kLogTag + " Out of memory for synthesized audio; the rest of the text is not spoken.");
    segment.endedEarly = true;
    return false;
  }
  timeSentenceWords(segment, item, samples, n);
  if (segment.published == nullptr && item->samplesReady() > 0) publish(segment);
  return true;
}

void SherpaTTSNode::Internals::publish(GrowingSegment& segment) {
  GeneratedAudioItem* item = segment.owned.get();
  if (segment.kind == SegmentKind::kWholeText) {
    nextItem.store(item);
  } else if (!queuedPieces.push(item)) {
    // Pieces are cut only when the queue has room, so this is a fault.
    Logger::error(kLogTag + " Piece queue full; a piece is dropped.");
    return;
  }
  // Room was reserved before the generation began.
  generatedAudioItems.push_back(std::move(segment.owned));
  segment.published = item;
}


void SherpaTTSNode::Internals::timeSentenceWords(GrowingSegment& segment, GeneratedAudioItem* item,
                                                 const float* samples, int32_t n) {
  SpokenWords& words = item->words;
  const std::size_t sentence = segment.sentencesSeen++;
  if (!segment.sentencesMatch || words.count() == 0) return;
  if (sentence >= segment.sentenceEnds.size()) {
    segment.sentencesMatch = false;  // more sentences than the text has: timed at the end
    return;
  }
  const std::size_t begin = sentence == 0 ? 0 : segment.sentenceEnds[sentence - 1];
  const std::size_t end = segment.sentenceEnds[sentence];
  const std::vector<std::size_t>& byteEnds = words.byteEnds();
  std::size_t first = words.published();
  std::size_t last = first;
  while (last < byteEnds.size() && byteEnds[last] <= end) ++last;
  try {
    const std::vector<int32_t> ends = estimateWordEnds(words.text().substr(begin, end - begin), samples, n);
    if (ends.size() != last - first) {
      segment.sentencesMatch = false;
      return;
    }
    // The margin keeps an estimate from running ahead of the voice (it runs
    // early about a third of the time without it).
    const int32_t offset = item->samplesReady() - n + kWordEndMarginSamples;
    // The segment's last word waits for the end of generation: it ends
    // where the audio does, whatever the engine adds after the callbacks.
    for (std::size_t i = 0; i < ends.size() && first + i + 1 < words.count(); ++i)
      words.publish(first + i, offset + ends[i]);
  } catch (...) {
    segment.sentencesMatch = false;  // out of memory: timed at the end, or not at all
  }
}

void SherpaTTSNode::Internals::timeRemainingWords(GeneratedAudioItem* item) {
  SpokenWords& words = item->words;
  const std::size_t first = words.published();
  if (first >= words.count()) return;
  const int32_t total = item->samplesReady();
  const int32_t start = first == 0 ? 0 : words.endSample(first - 1);
  try {
    // Spread the words left over the audio left.
    const std::size_t byteStart = first == 0 ? 0 : words.byteEnds()[first - 1];
    std::vector<float> rest(static_cast<std::size_t>(total - start));
    for (int32_t i = start; i < total; ++i) rest[static_cast<std::size_t>(i - start)] = item->sample(i);
    const std::vector<int32_t> ends =
        estimateWordEnds(words.text().substr(byteStart), rest.data(), static_cast<int32_t>(rest.size()));
    if (ends.size() == words.count() - first) {
      for (std::size_t i = 0; i + 1 < ends.size(); ++i)
        words.publish(first + i, std::min(total, start + ends[i] + kWordEndMarginSamples));
    }
  } catch (...) {
  }
  // However the rest went, every word is spoken once the segment has played.
  for (std::size_t i = words.published(); i < words.count(); ++i) words.publish(i, total);
}

}  // namespace quorvel::extensions::sherpa
