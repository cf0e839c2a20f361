#include "AudioGraphDriver.h"

#include <thread>

namespace qs_cli {

using quorvel::AudioBuffer;
using quorvel::AudioBusFormat;
using quorvel::AudioBusFormatList;

AudioGraphDriver::AudioGraphDriver(quorvel::AudioSourceNode& node, int sampleRate, unsigned channels, unsigned blockFrames)
    : node_(node),
      sampleRate_(sampleRate),
      channels_(channels),
      blockFrames_(blockFrames),
      storage_(channels, std::vector<float>(blockFrames)) {
  for (auto& channel : storage_) pointers_.push_back(channel.data());
  buffer_ = AudioBuffer<float>(channels_, blockFrames_, true, sampleRate_, pointers_.data());
  buses_.getBus(0)->setBuffer(&buffer_);
}

bool AudioGraphDriver::configure() {
  AudioBusFormatList formats{AudioBusFormat{sampleRate_, channels_}};
  return node_.setBusFormats(formats);
}

bool AudioGraphDriver::renderBlock() {
  if (paced_) {
    if (!started_) {
      start_ = std::chrono::steady_clock::now();
      started_ = true;
    }
    auto due = start_ + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(outputSeconds()));
    std::this_thread::sleep_until(due);
  }
  bool ok = node_.produce(buses_);
  framesRendered_ += blockFrames_;
  return ok;
}

}  // namespace qs_cli
