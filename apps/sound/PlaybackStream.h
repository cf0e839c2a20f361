// An output stream on one device. Whenever the server asks for audio, the
// stream calls `fill` on the sound server's thread (the device callback)
// for exactly the frames asked, interleaved 32-bit float.
#pragma once

#include <atomic>
#include <functional>

#include "DeviceStream.h"

namespace qs_cli::sound {

class PlaybackStream : public DeviceStream {
 public:
  // Runs on the device thread; must not allocate, lock or block.
  using Fill = std::function<void(float* interleaved, std::size_t frames)>;

  explicit PlaybackStream(SoundServer& server) : DeviceStream(server) {}
  ~PlaybackStream() override { close(); }

  // Connects and starts playing: `fill` is called from the first request on.
  bool start(const DeviceInfo& device, const StreamFormat& format, Fill fill, std::string& error);
  // Stops feeding the device and waits until everything written has been
  // played; false (with a message) on failure or when it takes far longer
  // than the buffer.
  bool drain(std::string& error);
  // Times the device ran dry and played silence before the drain.
  unsigned underruns() const { return underruns_.load(); }

 protected:
  int connectStream(pa_stream* stream, const pa_buffer_attr& attributes) override;
  pa_buffer_attr bufferAttributes() const override;

 private:
  static void onWrite(pa_stream* stream, std::size_t bytes, void* userdata);
  static void onUnderflow(pa_stream* stream, void* userdata);

  Fill fill_;
  // Set by drain: the device plays out what it holds and is not fed again.
  std::atomic<bool> draining_{false};
  std::atomic<unsigned> underruns_{0};
};

}  // namespace qs_cli::sound
