// The graph's output rate and the conversion from the voice's 16000 Hz.
#include <optional>

#include "TTSInternals.h"

namespace quorvel::extensions::sherpa {

namespace {
constexpr int kVoiceRate = 16000;
constexpr int kVoiceBlockFrames = 160;

bool needsConversion(int rate) { return rate != 0 && rate != kVoiceRate; }
}  // namespace

std::unique_ptr<AudioGraphResampler> SherpaTTSNode::Internals::makeResampler() {
  auto fresh = std::make_unique<AudioGraphResampler>(kVoiceRate, kVoiceBlockFrames);
  fresh->setNumberOfBuses(0, 1);
  fresh->setProcessCallback(
      [this](AudioBusList& inBuses, AudioBusList& outBuses) { return resamplerCallback(inBuses, outBuses); });
  return fresh;
}

void SherpaTTSNode::Internals::setSampleRate(int rate) {
  if (gate.insideProduce()) {
    // The conversion cannot change under the produce that runs it.
    pendingRate.store(rate);
    gate.requestAtEndOfProduce(RenderGate::kApplyRate);
    return;
  }
  std::lock_guard<std::mutex> format(formatMutex);
  changeRateHoldingFormat(rate, false);
}

void SherpaTTSNode::Internals::changeRateHoldingFormat(int rate, bool fromProduce) {
  std::unique_ptr<AudioGraphResampler> old;  // destroyed after produce may run again
  std::optional<RenderGate::Exclusion> exclusion;
  if (rate == sampleRate) return;
  sampleRate = rate;
  if (rate == kVoiceRate) {
    if (resampler) {
      if (!fromProduce) exclusion.emplace(gate);
      old = std::move(resampler);
    }
    return;
  }
  if (resampler) return;
  // Built before produce is held off, so the hold lasts only for the swap.
  auto fresh = makeResampler();
  if (!fromProduce) exclusion.emplace(gate);
  resampler = std::move(fresh);
}

void SherpaTTSNode::Internals::restoreConversion() {
  if (gate.insideProduce()) {
    gate.requestAtEndOfProduce(RenderGate::kRestoreConversion);
    return;
  }
  std::lock_guard<std::mutex> format(formatMutex);
  if (resampler || !needsConversion(sampleRate)) return;
  auto fresh = makeResampler();
  RenderGate::Exclusion exclusion(gate);
  resampler = std::move(fresh);
}

bool SherpaTTSNode::Internals::changeConversionFromProduce(unsigned requests) {
  std::unique_lock<std::mutex> format(formatMutex, std::try_to_lock);
  if (!format.owns_lock()) return false;
  // A reload inside produce left the old conversion running until now: its
  // filter still holds the dropped speech.
  if (requests & RenderGate::kRestoreConversion) resampler.reset();
  if (requests & RenderGate::kApplyRate) changeRateHoldingFormat(pendingRate.load(), true);
  if (!resampler && needsConversion(sampleRate)) resampler = makeResampler();
  return true;
}

}  // namespace quorvel::extensions::sherpa
