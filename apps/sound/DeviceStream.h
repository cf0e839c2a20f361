// What an output and an input stream share: connecting a stream of 32-bit
// float frames to one device with bounded waits, telling the user why the
// server refused it, and watching it for failure while it runs.
#pragma once

#include <atomic>
#include <string>

#include "SoundServer.h"

namespace qs_cli::sound {

struct StreamFormat {
  int sampleRate = 0;
  unsigned channels = 0;
  unsigned blockFrames = 0;   // how much the device hands over or asks for at a time
  unsigned bufferFrames = 0;  // how much the server holds ahead of the device (output)
  std::size_t frameBytes() const { return sizeof(float) * channels; }
};

class DeviceStream {
 public:
  explicit DeviceStream(SoundServer& server) : server_(server) {}
  virtual ~DeviceStream();
  DeviceStream(const DeviceStream&) = delete;
  DeviceStream& operator=(const DeviceStream&) = delete;

  // False with a message once the stream or the connection has failed.
  bool healthy(std::string& error);
  // Disconnects; no callback runs after it returns.
  void close();

  const DeviceInfo& device() const { return device_; }
  const StreamFormat& format() const { return format_; }

 protected:
  // Creates the stream (callbacks are set by `connectStream`) and waits
  // until the server has accepted or refused it. Call without the lock.
  bool open(const DeviceInfo& device, const StreamFormat& format, std::string& error);
  // Sets the subclass's callbacks and asks the server for the stream; the
  // lock is held.
  virtual int connectStream(pa_stream* stream, const pa_buffer_attr& attributes) = 0;
  virtual pa_buffer_attr bufferAttributes() const = 0;

  SoundServer& server_;
  pa_stream* stream_ = nullptr;
  DeviceInfo device_;
  StreamFormat format_;

 private:
  std::string refusal(int code) const;
};

}  // namespace qs_cli::sound
