// The connection to the PulseAudio sound server that the live commands play
// through and record from, and the devices it offers.
//
// Threads. The connection runs libpulse's threaded main loop; every stream
// callback (the device callbacks that drive the nodes) runs on that loop's
// thread. The calls below are made from one control thread; each takes the
// loop's lock itself, and none waits without a deadline, so a missing or
// stuck server ends in an error message, never in a hang.
//
// Failures are false results with a one-line message for the user.
//
// Usage:
//   SoundServer server;
//   std::string error;
//   if (!server.connect(error)) return fail(error);   // "the sound server is not running ..."
//   DeviceInfo speaker;
//   if (!server.findDevice(Direction::Output, "", speaker, error)) return fail(error);
#pragma once

#include <pulse/pulseaudio.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace qs_cli::sound {

enum class Direction { Output, Input };

struct DeviceInfo {
  Direction direction = Direction::Output;
  std::string name;         // what --device takes
  std::string description;  // the server's human-readable name
  int sampleRate = 0;       // the device's own format
  unsigned channels = 0;
  bool isDefault = false;
};

// Holds the main loop's lock for its lifetime.
class MainLoopLock {
 public:
  explicit MainLoopLock(pa_threaded_mainloop* loop) : loop_(loop) { pa_threaded_mainloop_lock(loop_); }
  ~MainLoopLock() { pa_threaded_mainloop_unlock(loop_); }
  MainLoopLock(const MainLoopLock&) = delete;
  MainLoopLock& operator=(const MainLoopLock&) = delete;

 private:
  pa_threaded_mainloop* loop_;
};

class SoundServer {
 public:
  SoundServer();  // touches nothing until connect()
  ~SoundServer();
  SoundServer(const SoundServer&) = delete;
  SoundServer& operator=(const SoundServer&) = delete;

  // Connects to the running server (never starts one); once per object.
  bool connect(std::string& error);

  // Every output (sink) or input (source, monitors included) device.
  bool listDevices(Direction direction, std::vector<DeviceInfo>& devices, std::string& error);
  // The device of that name, or the default one for an empty name.
  bool findDevice(Direction direction, const std::string& name, DeviceInfo& device, std::string& error);

  // For the streams: the loop, the context, and a bounded wait. waitUntil
  // is called with the lock held; it polls `done` (under the lock) until it
  // is true or the deadline passes, and returns `done`'s last answer.
  pa_threaded_mainloop* mainLoop() { return loop_; }
  pa_context* context() { return context_; }
  bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
  // The server's last error as text; call with the lock held.
  std::string lastError();

 private:
  bool runQuery(pa_operation* operation, std::string& error);

  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  bool started_ = false;
};

// "44100 Hz, 2 channels"
std::string describeFormat(int sampleRate, unsigned channels);

}  // namespace qs_cli::sound
