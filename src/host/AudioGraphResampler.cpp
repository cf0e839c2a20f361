// Placeholder until the libsoxr-based converter lands: renders silence.
#include "quorvel/AudioGraphResampler.h"

namespace quorvel {

struct AudioGraphResampler::Impl {
  int sourceRate;
  int sourceBlockFrames;
  ProcessCallback callback;
};

AudioGraphResampler::AudioGraphResampler(int sourceRate, int sourceBlockFrames)
    : impl_(new Impl{sourceRate, sourceBlockFrames, {}}) {}
AudioGraphResampler::~AudioGraphResampler() = default;
void AudioGraphResampler::setNumberOfBuses(unsigned, unsigned) {}
void AudioGraphResampler::setProcessCallback(ProcessCallback callback) { impl_->callback = std::move(callback); }
bool AudioGraphResampler::process(AudioBusList&, AudioBusList& out) {
  if (AudioBus* bus = out.getBus(0)) bus->clear();
  return false;
}
int AudioGraphResampler::getSourceRate() const { return impl_->sourceRate; }
int AudioGraphResampler::getSourceBlockFrames() const { return impl_->sourceBlockFrames; }
double AudioGraphResampler::getLatencyFrames() const { return 0; }

}  // namespace quorvel
