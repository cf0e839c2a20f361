#include "DeviceStream.h"

namespace qs_cli::sound {

namespace {
constexpr std::chrono::milliseconds kOpenTimeout{3000};
}

DeviceStream::~DeviceStream() { close(); }

std::string DeviceStream::refusal(int code) const {
  const char* word = device_.direction == Direction::Output ? "output" : "input";
  std::string reason = std::string("PulseAudio: ") + pa_strerror(code);
  if (code == PA_ERR_NOENTITY) {
    return std::string("no ") + word + " device named '" + device_.name + "' (quorvel-sherpa devices lists them)";
  }
  if (code == PA_ERR_CONNECTIONTERMINATED || code == PA_ERR_CONNECTIONREFUSED) return "the sound server went away (" + reason + ")";
  return std::string("the ") + word + " device '" + device_.name + "' refused " +
         describeFormat(format_.sampleRate, format_.channels) + " of 32-bit float (" + reason + ")";
}

bool DeviceStream::open(const DeviceInfo& device, const StreamFormat& format, std::string& error) {
  device_ = device;
  format_ = format;
  pa_sample_spec sampleFormat{PA_SAMPLE_FLOAT32NE, static_cast<uint32_t>(format.sampleRate), static_cast<uint8_t>(format.channels)};
  if (format.channels == 0 || format.channels > PA_CHANNELS_MAX || pa_sample_spec_valid(&sampleFormat) == 0) {
    error = refusal(PA_ERR_NOTSUPPORTED);
    return false;
  }
  MainLoopLock lock(server_.mainLoop());
  const char* role = device.direction == Direction::Output ? "speech" : "speech input";
  stream_ = pa_stream_new(server_.context(), role, &sampleFormat, nullptr);
  if (stream_ == nullptr) {
    error = refusal(pa_context_errno(server_.context()));
    return false;
  }
  if (connectStream(stream_, bufferAttributes()) < 0) {
    error = refusal(pa_context_errno(server_.context()));
    return false;
  }
  auto settled = [this] {
    pa_stream_state_t state = pa_stream_get_state(stream_);
    return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
  };
  if (!server_.waitUntil(settled, kOpenTimeout)) {
    error = "the sound server did not open the " + std::string(device.direction == Direction::Output ? "output" : "input") +
            " device '" + device.name + "' within " + std::to_string(kOpenTimeout.count() / 1000) + " s";
    return false;
  }
  if (pa_stream_get_state(stream_) != PA_STREAM_READY) {
    error = refusal(pa_context_errno(server_.context()));
    return false;
  }
  return true;
}

bool DeviceStream::healthy(std::string& error) {
  MainLoopLock lock(server_.mainLoop());
  if (pa_context_get_state(server_.context()) != PA_CONTEXT_READY) {
    error = "the sound server went away (" + server_.lastError() + ")";
    return false;
  }
  if (stream_ == nullptr || pa_stream_get_state(stream_) != PA_STREAM_READY) {
    error = "the device '" + device_.name + "' stopped (" + server_.lastError() + ")";
    return false;
  }
  return true;
}

void DeviceStream::close() {
  if (stream_ == nullptr) return;
  MainLoopLock lock(server_.mainLoop());
  pa_stream_set_write_callback(stream_, nullptr, nullptr);
  pa_stream_set_read_callback(stream_, nullptr, nullptr);
  pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
  pa_stream_set_overflow_callback(stream_, nullptr, nullptr);
  if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) pa_stream_disconnect(stream_);
  pa_stream_unref(stream_);
  stream_ = nullptr;
}

}  // namespace qs_cli::sound
