// Plays a Speaker through an output device of the sound server.
//
// The device callback is the audio thread: it renders the node block by
// block through the graph driver and copies out exactly what the device
// asked for; the rest of a block the device did not take whole waits for
// its next request. When the played audio is also written to a file, it
// travels to the control thread through a wait-free ring. The callback
// allocates nothing, takes no lock and does no I/O (the node's own work on
// that thread, such as a streamed piece synthesised when the last one ends,
// is the node's).
//
// Usage, on the control thread:
//   DevicePlayer player;
//   player.prepare(render, error);   // connects; the device's format into `render`
//   Speaker speaker(session, render); speaker.open(voice, error);
//   player.start(speaker, /*record=*/true, error);
//   ... actions; every few ms: player.collect(), player.healthy(error) ...
//   player.finish(error);            // plays out the end
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include <quorvel/AudioRingBuffer.h>

#include "Speaker.h"
#include "sound/PlaybackStream.h"
#include "sound/SoundServer.h"

namespace qs_cli {

class DevicePlayer {
 public:
  DevicePlayer() = default;
  ~DevicePlayer();
  DevicePlayer(const DevicePlayer&) = delete;
  DevicePlayer& operator=(const DevicePlayer&) = delete;

  // Connects to the server, finds the output device (render.device, or the
  // default) and settles the format in `render`: the device's rate and
  // channels (two at most) and 10 ms blocks, unless they were given.
  bool prepare(RenderOptions& render, std::string& error);
  // Opens the device; from then on its callback renders `speaker`.
  bool start(Speaker& speaker, bool record, std::string& error);
  // Moves what was played since the last call into speaker.audio().
  void collect();
  // False with a message when the device or the server failed.
  bool healthy(std::string& error) { return stream_.healthy(error); }
  // Plays out what the device still holds, then closes it.
  bool finish(std::string& error);
  // Closes the device at once; its callback has stopped when this returns.
  void stop() { stream_.close(); }

  // The connection prepare() made: other streams of the same command share it.
  sound::SoundServer& server() { return server_; }

  bool heardSound() const { return heard_.load(); }
  // Control thread: heardSound() false again, to notice the next sound
  // (converse times each reply's first audio).
  void forgetSound() { heard_.store(false); }
  unsigned underruns() const { return stream_.underruns(); }
  // Played frames missing from the recording (the control thread fell behind).
  uint64_t unrecordedFrames() const { return unrecorded_.load(); }
  // "qs_null (44100 Hz, 2 channels; 441-frame blocks, 100 ms buffer)"
  std::string description() const;

 private:
  void fill(float* interleaved, std::size_t frames);
  void renderNextBlock();

  sound::SoundServer server_;
  sound::PlaybackStream stream_{server_};
  sound::DeviceInfo device_;
  sound::StreamFormat format_;
  Speaker* speaker_ = nullptr;

  // Audio thread only: the rendered block, interleaved, and how much of it
  // the device has not taken yet.
  std::vector<float> carry_;
  std::size_t carryFrames_ = 0;
  std::size_t carryTaken_ = 0;

  std::unique_ptr<quorvel::AudioRingBuffer<float>> recording_;
  std::vector<std::vector<float>> collectStorage_;
  std::atomic<bool> heard_{false};
  std::atomic<uint64_t> unrecorded_{0};
};

// Stops a player's device when it leaves scope. Declared after the Speaker
// that the device renders, it stops the callback before the Speaker is
// destroyed, on every return.
class StopPlayingOnExit {
 public:
  explicit StopPlayingOnExit(DevicePlayer& player) : player_(player) {}
  ~StopPlayingOnExit() { player_.stop(); }
  StopPlayingOnExit(const StopPlayingOnExit&) = delete;
  StopPlayingOnExit& operator=(const StopPlayingOnExit&) = delete;

 private:
  DevicePlayer& player_;
};

}  // namespace qs_cli
