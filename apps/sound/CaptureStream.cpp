#include "CaptureStream.h"

namespace qs_cli::sound {

bool CaptureStream::start(const DeviceInfo& device, const StreamFormat& format, Deliver deliver, std::string& error) {
  deliver_ = std::move(deliver);
  return open(device, format, error);
}

pa_buffer_attr CaptureStream::bufferAttributes() const {
  pa_buffer_attr attributes;
  attributes.maxlength = static_cast<uint32_t>(-1);
  attributes.tlength = static_cast<uint32_t>(-1);
  attributes.prebuf = static_cast<uint32_t>(-1);
  attributes.minreq = static_cast<uint32_t>(-1);
  attributes.fragsize = static_cast<uint32_t>(format_.blockFrames * format_.frameBytes());
  return attributes;
}

int CaptureStream::connectStream(pa_stream* stream, const pa_buffer_attr& attributes) {
  pa_stream_set_read_callback(stream, onRead, this);
  pa_stream_set_overflow_callback(stream, onOverflow, this);
  return pa_stream_connect_record(stream, device_.name.c_str(), &attributes, PA_STREAM_ADJUST_LATENCY);
}

// The device callback: every piece the server has, handed on in place.
void CaptureStream::onRead(pa_stream* stream, std::size_t, void* userdata) {
  auto* self = static_cast<CaptureStream*>(userdata);
  const std::size_t frameBytes = self->format_.frameBytes();
  while (pa_stream_readable_size(stream) > 0) {
    const void* data = nullptr;
    std::size_t bytes = 0;
    if (pa_stream_peek(stream, &data, &bytes) < 0) return;
    if (bytes == 0) return;  // nothing after all
    self->deliver_(static_cast<const float*>(data), bytes / frameBytes);
    pa_stream_drop(stream);
  }
}

void CaptureStream::onOverflow(pa_stream*, void* userdata) { static_cast<CaptureStream*>(userdata)->overruns_++; }

}  // namespace qs_cli::sound
