// The command-line host's graph driver: runs one source node block by
// block, the way an audio device callback would, and hands each rendered
// block to the caller.
//
// configure() settles the bus format (calling the node's setBusFormats once),
// renderBlock() calls produce once on the calling thread (which thereby is
// the audio thread). With pacing on, renderBlock first sleeps until the
// block's start in real time, so the node sees device-like timing.
#pragma once

#include <chrono>
#include <memory>
#include <vector>

#include <quorvel/AudioBus.h>
#include <quorvel/Node.h>

namespace qs_cli {

class AudioGraphDriver {
 public:
  AudioGraphDriver(quorvel::AudioSourceNode& node, int sampleRate, unsigned channels, unsigned blockFrames);

  // Sends the format to the node; false when the node refuses it.
  bool configure();
  void setRealtimePacing(bool paced) { paced_ = paced; }

  // Produces one block; the result of the node's produce.
  bool renderBlock();
  const quorvel::AudioBuffer<float>& lastBlock() const { return buffer_; }

  // Seconds of output rendered so far.
  double outputSeconds() const { return static_cast<double>(framesRendered_) / sampleRate_; }
  uint64_t framesRendered() const { return framesRendered_; }
  int sampleRate() const { return sampleRate_; }
  unsigned channels() const { return channels_; }
  unsigned blockFrames() const { return blockFrames_; }

 private:
  quorvel::AudioSourceNode& node_;
  int sampleRate_;
  unsigned channels_;
  unsigned blockFrames_;
  bool paced_ = false;
  std::vector<std::vector<float>> storage_;
  std::vector<float*> pointers_;
  quorvel::AudioBuffer<float> buffer_;
  quorvel::AudioBusArray<1> buses_;
  uint64_t framesRendered_ = 0;
  std::chrono::steady_clock::time_point start_;
  bool started_ = false;
};

}  // namespace qs_cli
