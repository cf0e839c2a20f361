// Pull-model sample-rate conversion on libsoxr.
//
// soxr drives the source side: soxr_output asks the input function for at
// most `requested_len` frames, which may be fewer than a source block (a
// 1-frame host block at 48 kHz asks for 1 frame of 16 kHz audio). The input
// function therefore pulls a whole block through the process callback into
// preallocated storage and hands it out piecewise from a cursor.
//
// Input is split-channel (the callback's block is handed over as is);
// output is interleaved into a preallocated scratch block and split from
// there. soxr_output's refill loop advances its output pointer as if it
// were one interleaved buffer, so split output crashes there as soon as a
// call is served partly from buffered output and partly after a refill.
// Mono needs no scratch: one interleaved channel is the channel itself.
//
// Result of process: true whenever output bus 0 was filled with converted
// audio. A callback that fails (returns false or throws) contributes a
// block of silence, which is still converted audio, so process stays true;
// only invalid rates, a missing bus/buffer or a soxr error give false.
#include "quorvel/AudioGraphResampler.h"

#include <soxr.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace quorvel {

struct AudioGraphResampler::Impl {
  int sourceRate;
  unsigned blockFrames;
  // Recorded only: the callback always gets no input bus and one output bus.
  unsigned numberOfInputBuses = 0;
  unsigned numberOfOutputBuses = 1;
  ProcessCallback callback;

  soxr_t soxr = nullptr;
  int outputRate = 0;
  unsigned channels = 0;

  // One block of source audio per channel, contiguous; sized on configure.
  std::vector<float> storage;
  std::array<float*, AudioBuffer<float>::kMaxChannels> blockChannels{};
  AudioBuffer<float> sourceBuffer;
  AudioBusArray<0> callbackInputs;
  AudioBusArray<1> callbackOutputs;
  unsigned cursor = 0;     // next unread frame of the current block
  unsigned available = 0;  // frames of the current block left to hand out
  std::array<const void*, AudioBuffer<float>::kMaxChannels> inputPointers{};
  static constexpr unsigned kScratchFrames = 4096;
  std::vector<float> scratch;  // interleaved output, multichannel only

  // Since the converter was (re)built: frames handed to soxr and produced.
  double framesIn = 0;
  double framesOut = 0;

  ~Impl() { destroyConverter(); }

  void destroyConverter() {
    if (soxr != nullptr) soxr_delete(soxr);
    soxr = nullptr;
    outputRate = 0;
  }

  bool configure(int rate, unsigned numberOfChannels) {
    if (soxr != nullptr && rate == outputRate && numberOfChannels == channels) return true;
    destroyConverter();
    if (numberOfChannels != channels) {
      // Unread frames belong to the old channel layout; drop them.
      storage.assign(static_cast<std::size_t>(blockFrames) * numberOfChannels, 0.0f);
      for (unsigned c = 0; c < numberOfChannels; ++c) blockChannels[c] = storage.data() + c * blockFrames;
      scratch.assign(numberOfChannels > 1 ? static_cast<std::size_t>(kScratchFrames) * numberOfChannels : 0, 0.0f);
      channels = numberOfChannels;
      cursor = 0;
      available = 0;
    }
    // 20-bit (HQ) filters, minimum phase so the impulse response is not
    // centred far ahead; small DFTs keep the blocks soxr asks for short.
    soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_S, SOXR_FLOAT32_I);
    soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ | SOXR_MINIMUM_PHASE, 0);
    soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    runtime.log2_min_dft_size = 6;
    runtime.log2_large_dft_size = 8;
    soxr_error_t error = nullptr;
    soxr = soxr_create(sourceRate, rate, channels, &error, &io, &quality, &runtime);
    if (error != nullptr || soxr == nullptr) {
      if (soxr != nullptr) soxr_delete(soxr);
      soxr = nullptr;
      return false;
    }
    if (soxr_set_input_fn(soxr, &Impl::input, this, blockFrames) != nullptr) {
      destroyConverter();
      return false;
    }
    outputRate = rate;
    framesIn = 0;
    framesOut = 0;
    return true;
  }

  void pullBlock() {
    // Rebuilt every pull: the callback may have changed the buffer or bus.
    sourceBuffer = AudioBuffer<float>(channels, blockFrames, true, sourceRate, blockChannels.data());
    callbackOutputs.getBus(0)->setBuffer(&sourceBuffer);
    bool ok = false;
    if (callback) {
      try {
        ok = callback(callbackInputs, callbackOutputs);
      } catch (...) {
        ok = false;  // must not unwind through soxr's C frames
      }
    }
    if (!ok) {
      for (unsigned c = 0; c < channels; ++c) std::memset(blockChannels[c], 0, sizeof(float) * blockFrames);
    }
    cursor = 0;
    available = blockFrames;
  }

  static size_t input(void* state, soxr_in_t* data, size_t requested) {
    auto* self = static_cast<Impl*>(state);
    if (self->available == 0) self->pullBlock();
    unsigned n = static_cast<unsigned>(std::min<size_t>(requested, self->available));
    for (unsigned c = 0; c < self->channels; ++c) self->inputPointers[c] = self->blockChannels[c] + self->cursor;
    *data = self->inputPointers.data();
    self->cursor += n;
    self->available -= n;
    self->framesIn += n;
    return n;
  }
};

AudioGraphResampler::AudioGraphResampler(int sourceRate, int sourceBlockFrames) : impl_(new Impl) {
  impl_->sourceRate = sourceRate;
  impl_->blockFrames = sourceBlockFrames > 0 ? static_cast<unsigned>(sourceBlockFrames) : 0;
}

AudioGraphResampler::~AudioGraphResampler() = default;

void AudioGraphResampler::setNumberOfBuses(unsigned numberOfInputBuses, unsigned numberOfOutputBuses) {
  impl_->numberOfInputBuses = numberOfInputBuses;
  impl_->numberOfOutputBuses = numberOfOutputBuses;
}

void AudioGraphResampler::setProcessCallback(ProcessCallback callback) { impl_->callback = std::move(callback); }

bool AudioGraphResampler::process(AudioBusList&, AudioBusList& outBuses) {
  Impl& d = *impl_;
  AudioBus* bus = outBuses.getBus(0);
  AudioBuffer<float>* out = bus != nullptr ? bus->getBuffer() : nullptr;
  if (out == nullptr) return false;
  const unsigned frames = out->getNumberOfFrames();
  const unsigned channels = out->getNumberOfChannels();
  if (d.sourceRate <= 0 || d.blockFrames == 0 || out->getSampleRate() <= 0 || channels == 0 ||
      !d.configure(out->getSampleRate(), channels)) {
    out->clear();
    return false;
  }

  unsigned done = 0;
  while (done < frames) {
    size_t n = 0;
    if (channels == 1) {
      n = soxr_output(d.soxr, out->getWritePointer(0) + done, frames - done);
    } else {
      n = soxr_output(d.soxr, d.scratch.data(), std::min(frames - done, Impl::kScratchFrames));
      const float* src = d.scratch.data();
      for (unsigned c = 0; c < channels; ++c) {
        float* dst = out->getWritePointer(c) + done;
        for (size_t i = 0; i < n; ++i) dst[i] = src[i * channels + c];
      }
    }
    if (n == 0) break;
    done += static_cast<unsigned>(n);
  }
  d.framesOut += done;
  if (done < frames) {
    for (unsigned c = 0; c < channels; ++c) std::memset(out->getWritePointer(c) + done, 0, sizeof(float) * (frames - done));
    return false;
  }
  return true;
}

int AudioGraphResampler::getSourceRate() const { return impl_->sourceRate; }
int AudioGraphResampler::getSourceBlockFrames() const { return static_cast<int>(impl_->blockFrames); }

double AudioGraphResampler::getLatencyFrames() const {
  const Impl& d = *impl_;
  if (d.soxr == nullptr || d.framesOut == 0) return 0;
  return d.framesIn - d.framesOut * d.sourceRate / d.outputRate;
}

}  // namespace quorvel
