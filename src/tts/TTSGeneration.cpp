// Running the engine on one text into a growing segment: the engine hands
// over each sentence's samples as it makes them, the segment is published
// with the first of them, and the render step plays what is ready while the
// rest is generated. Returning 0 from the callback ends a generation that
// no longer matters ("stop", a newer whole text, a reload, teardown).
#include <quorvel/Logger.h>

#include "TTSInternals.h"
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

}  // namespace quorvel::extensions::sherpa
