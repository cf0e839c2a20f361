// A soak run of one text-to-speech node: a control thread takes random
// actions (whole texts, streamed tokens, clears, voice reloads) while a
// driver thread produces 10 ms blocks paced at real time, switching the
// output format between 16000 Hz mono, 44100 Hz stereo and 48000 Hz stereo
// now and then. A recognition node is fed 10 ms blocks on the same driver
// thread and decoded by the control thread alongside.
//
// What it records: every event of the node with the segment it belongs to,
// and the process's resident memory after a warm-up and at the end.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "stt/SherpaSTTNode.h"
#include "tts/SherpaTTSNode.h"

namespace soak {

struct VoiceFiles {
  std::string model;
  std::string tokens;
  std::string dataDir;
};

struct Options {
  std::chrono::seconds duration{30};
  std::chrono::seconds warmUp{6};
  VoiceFiles voice;                  // what the reload action loads
  std::vector<float> recognizerAudio;  // 16000 Hz mono, fed in a loop
  uint32_t seed = 1;
};

struct Report {
  // Resident set size in bytes.
  long rssAfterWarmUp = 0;
  long rssAtEnd = 0;
  // What happened.
  long blocks = 0;
  long formatChanges = 0;
  long actions = 0;
  long reloads = 0;
  long failedReloads = 0;
  long started = 0;
  long finished = 0;
  long replaced = 0;  // segments cut off by a newer one or dropped by a reload
  long decodes = 0;
  std::string recognizedText;  // the recognizer's last non-empty text
  // Broken promises: blocks with non-finite samples or differing channels,
  // and faults in the event sequence.
  long badBlocks = 0;
  std::vector<std::string> eventFaults;
};

// Runs the soak on `node` (which must hold a voice) and, when given, on
// `recognizer` (loaded, any format). Returns once playback has drained.
Report run(quorvel::extensions::sherpa::SherpaTTSNode& node, quorvel::extensions::sherpa::SherpaSTTNode* recognizer,
           const Options& options);

// Resident set size of this process in bytes, from /proc/self/statm.
long residentBytes();

// Prints the report's figures on standard output.
void print(const std::string& title, const Report& report);

}  // namespace soak
