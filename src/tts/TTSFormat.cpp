// The graph's output rate and the conversion from the voice's 16000 Hz.
#include "TTSInternals.h"

namespace quorvel::extensions::sherpa {

namespace {
constexpr int kVoiceRate = 16000;
constexpr int kVoiceBlockFrames = 160;
}  // namespace

std::unique_ptr<AudioGraphResampler> SherpaTTSNode::Internals::makeResampler() {
  auto fresh = std::make_unique<AudioGraphResampler>(kVoiceRate, kVoiceBlockFrames);
  fresh->setNumberOfBuses(0, 1);
  fresh->setProcessCallback(
      [this](AudioBusList& inBuses, AudioBusList& outBuses) { return resamplerCallback(inBuses, outBuses); });
  return fresh;
}

bool SherpaTTSNode::Internals::resamplerCallback(AudioBusList&, AudioBusList& outBuses) {
  AudioBus* bus = outBuses.getBus(0);
  return bus != nullptr && renderAudio(*bus);
}

void SherpaTTSNode::Internals::setSampleRate(int rate) {
  std::unique_ptr<AudioGraphResampler> old;  // destroyed after produce may run again
  std::lock_guard<std::mutex> format(formatMutex);
  if (rate == sampleRate) return;
  sampleRate = rate;
  if (rate == kVoiceRate) {
    if (resampler) {
      ProduceExclusion exclusion(*this);
      old = std::move(resampler);
    }
    return;
  }
  if (resampler) return;
  // Built before produce is held off, so the hold lasts only for the swap.
  auto fresh = makeResampler();
  ProduceExclusion exclusion(*this);
  resampler = std::move(fresh);
}

void SherpaTTSNode::Internals::restoreConversion() {
  std::lock_guard<std::mutex> format(formatMutex);
  if (resampler || sampleRate == 0 || sampleRate == kVoiceRate) return;
  auto fresh = makeResampler();
  ProduceExclusion exclusion(*this);
  resampler = std::move(fresh);
}

}  // namespace quorvel::extensions::sherpa
