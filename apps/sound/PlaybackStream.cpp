#include "PlaybackStream.h"

namespace qs_cli::sound {

namespace {
// Draining takes the buffered audio's length; this bounds a stuck server.
constexpr std::chrono::milliseconds kDrainGrace{2000};

void onDrained(pa_stream*, int, void*) {}
}  // namespace

bool PlaybackStream::start(const DeviceInfo& device, const StreamFormat& format, Fill fill, std::string& error) {
  fill_ = std::move(fill);
  return open(device, format, error);
}

pa_buffer_attr PlaybackStream::bufferAttributes() const {
  pa_buffer_attr attributes;
  attributes.maxlength = static_cast<uint32_t>(-1);
  attributes.tlength = static_cast<uint32_t>(format_.bufferFrames * format_.frameBytes());
  attributes.prebuf = static_cast<uint32_t>(-1);
  attributes.minreq = static_cast<uint32_t>(format_.blockFrames * format_.frameBytes());
  attributes.fragsize = static_cast<uint32_t>(-1);
  return attributes;
}

int PlaybackStream::connectStream(pa_stream* stream, const pa_buffer_attr& attributes) {
  pa_stream_set_write_callback(stream, onWrite, this);
  pa_stream_set_underflow_callback(stream, onUnderflow, this);
  return pa_stream_connect_playback(stream, device_.name.c_str(), &attributes, PA_STREAM_ADJUST_LATENCY, nullptr,
                                    nullptr);
}

// The device callback. The server's own memory is filled in place.
void PlaybackStream::onWrite(pa_stream* stream, std::size_t bytes, void* userdata) {
  auto* self = static_cast<PlaybackStream*>(userdata);
  if (self->draining_.load()) return;
  const std::size_t frameBytes = self->format_.frameBytes();
  while (bytes >= frameBytes) {
    void* data = nullptr;
    std::size_t size = bytes;
    if (pa_stream_begin_write(stream, &data, &size) < 0 || data == nullptr) return;
    const std::size_t frames = std::min(size, bytes) / frameBytes;
    if (frames == 0) {
      pa_stream_cancel_write(stream);
      return;
    }
    self->fill_(static_cast<float*>(data), frames);
    if (pa_stream_write(stream, data, frames * frameBytes, nullptr, 0, PA_SEEK_RELATIVE) < 0) return;
    bytes -= frames * frameBytes;
  }
}

void PlaybackStream::onUnderflow(pa_stream*, void* userdata) {
  auto* self = static_cast<PlaybackStream*>(userdata);
  if (!self->draining_.load()) self->underruns_++;
}

bool PlaybackStream::drain(std::string& error) {
  if (!healthy(error)) return false;
  MainLoopLock lock(server_.mainLoop());
  draining_.store(true);
  pa_operation* operation = pa_stream_drain(stream_, onDrained, nullptr);
  if (operation == nullptr) {
    error = "the sound server refused to play out the end (" + server_.lastError() + ")";
    return false;
  }
  const pa_buffer_attr* granted = pa_stream_get_buffer_attr(stream_);
  const std::size_t buffered = granted != nullptr ? granted->tlength : format_.bufferFrames * format_.frameBytes();
  const auto playOut = std::chrono::milliseconds(1000 * buffered / (format_.frameBytes() * format_.sampleRate));
  bool done = server_.waitUntil([operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; },
                                playOut + kDrainGrace);
  if (!done) pa_operation_cancel(operation);
  bool completed = pa_operation_get_state(operation) == PA_OPERATION_DONE;
  pa_operation_unref(operation);
  if (!done) error = "the output device did not play out the end in time";
  else if (!completed) error = "the sound server went away while playing (" + server_.lastError() + ")";
  return done && completed;
}

}  // namespace qs_cli::sound
