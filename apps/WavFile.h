// Reading and writing WAV files through libsndfile.
#pragma once

#include <string>
#include <vector>

namespace qs_cli {

struct Audio {
  int sampleRate = 0;
  unsigned channels = 0;
  std::vector<float> interleaved;  // frames * channels samples
  std::size_t frames() const { return channels == 0 ? 0 : interleaved.size() / channels; }
};

// Reads any format libsndfile knows; false with `error` set on failure.
bool readAudioFile(const std::string& path, Audio& audio, std::string& error);
// Writes 16-bit PCM WAV to `path`, or to standard output for "-".
bool writeWav(const std::string& path, const Audio& audio, std::string& error);
// Whether `path` can be written, tried before the work that fills it so a
// bad path is told at once; leaves an existing file as it was and no new
// one behind. "-" always can.
bool canWrite(const std::string& path, std::string& error);

}  // namespace qs_cli
