// The audio side: one block at a time from the published segment, with a
// one-block fade-out when a newer segment cuts the playing one off.
#include <atomic>
#include <cstring>

#include "TTSInternals.h"

namespace quorvel::extensions::sherpa {

namespace {

// Marks a section on one of the counters that the control side watches; the
// mark is undone also when a listener's exception leaves the section.
struct InFlight {
  explicit InFlight(std::atomic<int>& counter) : counter_(counter) { counter_.fetch_add(1); }
  ~InFlight() { counter_.fetch_sub(1); }
  std::atomic<int>& counter_;
};

struct RenderPass {
  explicit RenderPass(std::atomic<uint64_t>& passes) : passes_(passes) { passes_.fetch_add(1); }
  ~RenderPass() { passes_.fetch_add(1); }
  std::atomic<uint64_t>& passes_;
};

}  // namespace

bool SherpaTTSNode::Internals::produce(AudioBus& bus) {
  InFlight inFlight(produceInFlight);
  if (produceExclusions.load() > 0) {
    // Teardown or a format change is under way: touch nothing of it.
    bus.clear();
    return true;
  }
  if (resampler) {
    AudioBusArray<0> inBuses;
    AudioBusArray<1> outBuses;
    outBuses.getBus(0)->setBuffer(bus.getBuffer());
    return resampler->process(inBuses, outBuses);
  }
  return renderAudio(bus);
}

bool SherpaTTSNode::Internals::renderAudio(AudioBus& bus) {
  bus.clear();
  AudioBuffer<float>* buffer = bus.getBuffer();
  if (buffer == nullptr || buffer->getNumberOfChannels() == 0) return true;
  RenderPass pass(renderPasses);  // odd while the step runs

  GeneratedAudioItem* current = currentItem.load();
  if (current != nullptr && current->complete.load()) {
    currentItem.store(nullptr);
    current = nullptr;
    onPlaybackFinished();
  } else if (current == nullptr && bufferedSynthesisPending.load()) {
    retryBufferedSynthesis();
  }

  GeneratedAudioItem* next = nextItem.load();
  if (next != current && (next == nullptr || !next->complete.load())) {
    if (current != nullptr) {
      const uint32_t k = renderItemToBuffer(current, *buffer, false);
      for (unsigned c = 0; c < buffer->getNumberOfChannels(); ++c) {
        float* channel = buffer->getWritePointer(c);
        applyGainRamp(channel, channel, 1.0f, 0.0f, k, 1);
      }
    }
    currentItem.store(next);
    current = next;
  }
  if (current != nullptr) renderItemToBuffer(current, *buffer, true);
  return true;
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

void SherpaTTSNode::Internals::onPlaybackFinished() {
  firstSynthesis.store(true);
  node->emitEvent("finished", QVAny(QVAnyMap()));
  synthesizeBufferedText();
}

}  // namespace quorvel::extensions::sherpa
