// An input stream on one device. Whenever the device has recorded audio,
// the stream hands it to `deliver` on the sound server's thread (the device
// callback), interleaved 32-bit float, in the pieces the server made.
#pragma once

#include <atomic>
#include <functional>

#include "DeviceStream.h"

namespace qs_cli::sound {

class CaptureStream : public DeviceStream {
 public:
  // Runs on the device thread; must not allocate, lock or block. A null
  // `interleaved` is a gap the server lost: that many frames of silence.
  using Deliver = std::function<void(const float* interleaved, std::size_t frames)>;

  explicit CaptureStream(SoundServer& server) : DeviceStream(server) {}
  ~CaptureStream() override { close(); }

  // Connects and starts recording: `deliver` is called from the first piece on.
  bool start(const DeviceInfo& device, const StreamFormat& format, Deliver deliver, std::string& error);
  // Times the server's record buffer overflowed because it was not read in time.
  unsigned overruns() const { return overruns_.load(); }

 protected:
  int connectStream(pa_stream* stream, const pa_buffer_attr& attributes) override;
  pa_buffer_attr bufferAttributes() const override;

 private:
  static void onRead(pa_stream* stream, std::size_t bytes, void* userdata);
  static void onOverflow(pa_stream* stream, void* userdata);

  Deliver deliver_;
  std::atomic<unsigned> overruns_{0};
};

}  // namespace qs_cli::sound
