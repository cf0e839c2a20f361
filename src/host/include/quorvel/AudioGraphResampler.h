// Sample-rate conversion inside the audio graph.
//
// The resampler pulls source audio at `sourceRate` through its process
// callback, in blocks of `sourceBlockFrames` frames, and writes it converted
// into the buffer of output bus 0. The output rate and block length are read
// from that buffer at every process call, so the graph may change its rate
// between blocks (the converter is rebuilt then; that call allocates). Once
// configured for a rate, process allocates nothing and takes no lock.
//
// The callback gets an output list whose bus 0 holds a zeroed buffer of
// sourceBlockFrames frames at sourceRate, with as many channels as the
// output buffer, and fills it; returning false counts as silence.
//
// Conversion is libsoxr in a low-latency set-up (minimum phase, small DFT
// sizes) so that little source audio is pulled ahead of the output.
// A source or output rate of 0 or less gives silence and a false result.
#pragma once

#include <functional>
#include <memory>

#include "AudioBus.h"

namespace quorvel {

class AudioGraphResampler {
 public:
  using ProcessCallback = std::function<bool(AudioBusList& inBuses, AudioBusList& outBuses)>;

  AudioGraphResampler(int sourceRate, int sourceBlockFrames);
  ~AudioGraphResampler();
  AudioGraphResampler(const AudioGraphResampler&) = delete;
  AudioGraphResampler& operator=(const AudioGraphResampler&) = delete;

  void setNumberOfBuses(unsigned numberOfInputBuses, unsigned numberOfOutputBuses);
  void setProcessCallback(ProcessCallback callback);

  // Fills output bus 0 completely; false when nothing could be converted.
  bool process(AudioBusList& inBuses, AudioBusList& outBuses);

  int getSourceRate() const;
  int getSourceBlockFrames() const;
  // Source frames the converter holds ahead of the output, once primed,
  // for the rate it is configured for (0 before the first process call).
  double getLatencyFrames() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quorvel
