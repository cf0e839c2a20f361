// The audio side: one block at a time from the segment that plays, a
// one-block fade-out when a whole text cuts in or "stop" drops it, and the
// streamed pieces taken up from their queue in the block in which the one
// before them ends.
#include <cstring>

#include "TTSInternals.h"

namespace quorvel::extensions::sherpa {

bool SherpaTTSNode::Internals::produce(AudioBus& bus) {
  RenderGate::ProduceScope scope(gate);
  if (!scope.open()) {
    // Teardown or a format change is under way, or this produce runs inside
    // another one (a listener calling it): touch nothing.
    bus.clear();
    return true;
  }
  bool ok = true;
  if (resampler) {
    AudioBusArray<0> inBuses;
    AudioBusArray<1> outBuses;
    outBuses.getBus(0)->setBuffer(bus.getBuffer());
    ok = resampler->process(inBuses, outBuses);
  } else {
    ok = renderAudio(bus);
  }
  finishProduce();
  return ok;
}

bool SherpaTTSNode::Internals::renderAudio(AudioBus& bus) {
  AudioBuffer<float>* buffer = bus.getBuffer();
  if (buffer == nullptr || buffer->getNumberOfChannels() == 0) {
    bus.clear();
    return true;
  }
  RenderGate::RenderPass pass(gate);
  // The block comes out as if cleared first and then written: the first
  // segment written copies, what follows it adds, and whatever no segment
  // reached is zeroed. (Copying instead of clearing and adding spares the
  // steady block a pass over its samples.)
  const uint32_t frames = buffer->getNumberOfFrames();
  bool blockWritten = false;  // every channel holds this block's audio
  auto zeroFrom = [&](uint32_t first) {
    if (first >= frames) return;
    for (unsigned c = 0; c < buffer->getNumberOfChannels(); ++c)
      std::memset(buffer->getWritePointer(c) + first, 0, sizeof(float) * (frames - first));
  };
  auto write = [&](GeneratedAudioItem* item) {
    const uint32_t k = renderItemToBuffer(item, *buffer, blockWritten);
    if (!blockWritten) zeroFrom(k);
    blockWritten = true;
    return k;
  };

  GeneratedAudioItem* current = currentItem.load();
  if (current != nullptr && current->complete.load()) {
    // Its last sample went out in the block before; a "stop" since then
    // dropped it, and its "finished" with it. Its last words come first.
    emitSpokenWords(current);
    const bool finished = stillWanted(current->sequence) && progress.claimFinished(current);
    currentItem.store(nullptr);
    if (finished) {
      if (current->streamed) raiseTo(answerHeardUpTo, current->answerOffset + current->words.text().size());
      onPlaybackFinished();
    } else {
      synthesizeBufferedText();
    }
    // Listeners may have stopped, reloaded or spoken: read everything anew.
    current = currentItem.load();
  } else if (current == nullptr && bufferedSynthesisPending.load()) {
    retryBufferedSynthesis();
    current = currentItem.load();
  }

  auto fadeOut = [&](GeneratedAudioItem* item) {
    // Always the first write of a block: "stop" or a cut-in leaves no
    // segment playing before it.
    const uint32_t k = write(item);
    for (unsigned c = 0; c < buffer->getNumberOfChannels(); ++c) {
      float* channel = buffer->getWritePointer(c);
      applyGainRamp(channel, channel, 1.0f, 0.0f, k, 1);
    }
  };
  const uint64_t cutoff = dropBefore.load();
  if (current != nullptr && current->sequence < cutoff) {
    fadeOut(current);  // stopped: no "finished"
    currentItem.store(nullptr);
    current = nullptr;
  }

  // A whole text cuts in on what plays and drops the pieces queued before it.
  GeneratedAudioItem* next = nextItem.load();
  if (next != nullptr && next->sequence > takenUpSequence.load()) {
    takenUpSequence.store(next->sequence);
    if (!next->complete.load() && next->sequence >= cutoff) {
      dropQueuedBefore(next->sequence);
      if (current != nullptr) fadeOut(current);  // cut off: no "finished"
      startPlaying(next);
      current = next;
    }
  }

  dropQueuedBefore(cutoff);
  if (current == nullptr) {
    if (GeneratedAudioItem* piece = queuedPieces.front(); piece != nullptr) {
      queuedPieces.pop();
      if (!stillWanted(piece->sequence)) {
        piece = nullptr;  // a "stop" since the drop above: it and all behind it go
      } else if (piece->announceAtTakeUp) {
        // Prepared ahead: announced now, right after the "finished" of the
        // piece before it. Its listeners may stop or reload the node.
        node->emitEvent(kSynthesisStarted, piece->startedPayload);
        if (!stillWanted(piece->sequence)) piece = nullptr;
      }
      if (piece != nullptr) startPlaying(piece);
      current = piece;
    }
  }
  if (current != nullptr) {
    write(current);
    emitSpokenWords(current);
  }
  if (!blockWritten) zeroFrom(0);
  return true;
}

// The conversion asks for each block at the voice's rate through here.
bool SherpaTTSNode::Internals::resamplerCallback(AudioBusList&, AudioBusList& outBuses) {
  AudioBus* bus = outBuses.getBus(0);
  return bus != nullptr && renderAudio(*bus);
}

void SherpaTTSNode::Internals::dropQueuedBefore(uint64_t sequence) {
  for (GeneratedAudioItem* piece = queuedPieces.front(); piece != nullptr && piece->sequence < sequence;
       piece = queuedPieces.front())
    queuedPieces.pop();
}

uint32_t SherpaTTSNode::Internals::renderItemToBuffer(GeneratedAudioItem* item, AudioBuffer<float>& buffer,
                                                      bool mix) {
  const uint32_t frames = buffer.getNumberOfFrames();
  const uint32_t channels = buffer.getNumberOfChannels();
  if (frames == 0) return 0;  // its channel pointers may be null
  float* first = buffer.getWritePointer(0);
  const int32_t k = item->readInto(first, frames, mix);
  for (uint32_t c = 1; c < channels; ++c) std::memcpy(buffer.getWritePointer(c), first, sizeof(float) * frames);
  return static_cast<uint32_t>(k);
}

void SherpaTTSNode::Internals::applyGainRamp(const float* source, float* destination, float startGain,
                                             float endGain, uint32_t frameCount, uint32_t channelCount) {
  if (frameCount == 0) return;
  const float step = (endGain - startGain) / static_cast<float>(frameCount);
  float gain = startGain;
  for (uint32_t f = 0; f < frameCount; ++f) {
    for (uint32_t c = 0; c < channelCount; ++c) {
      const uint32_t i = f * channelCount + c;
      destination[i] = source[i] * gain;
    }
    gain += step;
  }
}

void SherpaTTSNode::Internals::startPlaying(GeneratedAudioItem* item) {
  currentItem.store(item);
  progress.start(item, dropBefore);
}

void SherpaTTSNode::Internals::emitSpokenWords(GeneratedAudioItem* item) {
  // Payloads were built by the generator: emitting allocates nothing. The
  // listeners may stop the node; a sealed segment claims no more words.
  // Once the whole segment has played, so have all its words, wherever
  // their estimates fell.
  const int32_t played = item->complete.load() ? INT32_MAX : item->readPosition.load();
  for (uint32_t word = 0; stillWanted(item->sequence) && progress.claimWord(item, played, word);)
    node->emitEvent(kSpoken, item->words.payload(word));
}

void SherpaTTSNode::Internals::onPlaybackFinished() {
  firstSynthesis.store(true);
  node->emitEvent(kFinished, finishedPayload);
  synthesizeBufferedText();
}

// Work asked for from inside this produce call (by listeners on the audio
// thread) that needed produce out of the way. It is carried out here, where
// no render pass runs; what cannot be had without waiting stays asked for.
void SherpaTTSNode::Internals::finishProduce() {
  unsigned requests = gate.takeRequests();
  if (requests == 0) return;
  unsigned kept = 0;
  if (const unsigned format = requests & (RenderGate::kApplyRate | RenderGate::kRestoreConversion); format != 0) {
    if (!changeConversionFromProduce(format)) kept |= format;
  }
  if (requests & RenderGate::kReleaseItems) {
    EngineHold hold(engine, EngineHold::kTry);
    if (!hold.held() || !releaseUnnamedItems()) {
      kept |= RenderGate::kReleaseItems;
    }
  }
  gate.keepRequests(kept);
}

}  // namespace quorvel::extensions::sherpa
