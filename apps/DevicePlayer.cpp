#include "DevicePlayer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace qs_cli {

namespace {
// The device's latency: enough that a busy two-core machine keeps it fed,
// short enough that the end of the speech is not noticeably late.
constexpr double kBufferSeconds = 0.1;
constexpr double kBlockSeconds = 0.01;
// Room for the played audio between two collect() calls, with a wide margin.
constexpr double kRecordingSeconds = 4.0;
constexpr unsigned kCollectFrames = 4096;
// Quieter than any speech, louder than rounding noise.
constexpr float kSoundThreshold = 1e-6f;
}  // namespace

DevicePlayer::~DevicePlayer() { stop(); }

bool DevicePlayer::prepare(RenderOptions& render, std::string& error) {
  if (!server_.connect(error)) return false;
  if (!server_.findDevice(sound::Direction::Output, render.device, device_, error)) return false;
  if (!render.rateGiven) render.rate = std::clamp(device_.sampleRate, 8000, 192000);
  if (!render.channelsGiven) render.channels = std::clamp(device_.channels, 1u, 2u);
  if (!render.blockGiven) render.block = static_cast<unsigned>(std::lround(render.rate * kBlockSeconds));
  format_.sampleRate = render.rate;
  format_.channels = render.channels;
  format_.blockFrames = render.block;
  format_.bufferFrames = std::max(4 * render.block, static_cast<unsigned>(std::lround(render.rate * kBufferSeconds)));
  return true;
}

bool DevicePlayer::start(Speaker& speaker, bool record, std::string& error) {
  speaker_ = &speaker;
  carry_.assign(static_cast<std::size_t>(format_.blockFrames) * format_.channels, 0.0f);
  carryFrames_ = 0;
  carryTaken_ = 0;
  if (record) {
    recording_ = std::make_unique<quorvel::AudioRingBuffer<float>>(
        static_cast<unsigned>(format_.sampleRate * kRecordingSeconds), format_.channels, false);
    collectStorage_.assign(format_.channels, std::vector<float>(kCollectFrames));
  }
  return stream_.start(
      device_, format_, [this](float* interleaved, std::size_t frames) { fill(interleaved, frames); }, error);
}

void DevicePlayer::renderNextBlock() {
  const quorvel::AudioBuffer<float>& block = speaker_->renderBlock();
  const unsigned frames = block.getNumberOfFrames();
  const unsigned channels = format_.channels;
  bool sound = false;
  for (unsigned c = 0; c < channels; ++c) {
    const float* samples = block.getReadPointer(c);
    for (unsigned f = 0; f < frames; ++f) {
      carry_[f * channels + c] = samples[f];
      sound = sound || std::fabs(samples[f]) > kSoundThreshold;
    }
  }
  if (sound) heard_.store(true);
  carryFrames_ = frames;
  carryTaken_ = 0;
  if (recording_ && recording_->produce(block, frames) != frames) unrecorded_ += frames;
}

void DevicePlayer::fill(float* interleaved, std::size_t frames) {
  const unsigned channels = format_.channels;
  std::size_t done = 0;
  while (done < frames) {
    if (carryTaken_ == carryFrames_) renderNextBlock();
    const std::size_t count = std::min(frames - done, carryFrames_ - carryTaken_);
    std::memcpy(interleaved + done * channels, carry_.data() + carryTaken_ * channels, count * channels * sizeof(float));
    done += count;
    carryTaken_ += count;
  }
}

void DevicePlayer::collect() {
  if (!recording_) return;
  float* pointers[quorvel::AudioBuffer<float>::kMaxChannels] = {};
  for (std::size_t c = 0; c < collectStorage_.size(); ++c) pointers[c] = collectStorage_[c].data();
  while (unsigned available = recording_->getAvailableFramesToConsume()) {
    const unsigned frames = std::min(available, kCollectFrames);
    quorvel::AudioBuffer<float> buffer(format_.channels, frames, false, format_.sampleRate, pointers);
    recording_->consume(buffer, frames);
    speaker_->keep(buffer);
  }
}

bool DevicePlayer::finish(std::string& error) {
  bool drained = stream_.drain(error);
  stream_.close();
  collect();
  return drained;
}

std::string DevicePlayer::description() const {
  return device_.name + " (" + sound::describeFormat(format_.sampleRate, format_.channels) + "; " +
         std::to_string(format_.blockFrames) + "-frame blocks, " +
         std::to_string(static_cast<int>(std::lround(1000.0 * format_.bufferFrames / format_.sampleRate))) +
         " ms buffer)";
}

}  // namespace qs_cli
