// A text-to-speech node created through the factory and rendered by the
// host's graph driver into memory, with its events tracked and reported.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include <quorvel/AudioGraphDriver.h>
#include <quorvel/Node.h>

#include "HostSession.h"
#include "WavFile.h"

namespace qs_cli {

struct VoiceOptions {
  std::string voiceDir;
  std::string model;
  std::string tokens;
  std::string dataDir;
};

struct RenderOptions {
  int rate = 48000;
  unsigned channels = 1;
  unsigned block = 480;
  bool realtime = false;
  std::string output;
};

// Checks rate, channels and block; false with a message.
bool validateRenderOptions(const RenderOptions& options, std::string& error);

class Speaker {
 public:
  Speaker(HostSession& session, const RenderOptions& options);
  ~Speaker();

  // Creates the node and makes sure a voice is loaded (the default one, or
  // the given files through "loadModel"). False with a message.
  bool open(const VoiceOptions& voice, std::string& error);

  quorvel::Result<quorvel::QVAny> action(const std::string& name, const quorvel::QVAnyMap& params);
  // Renders one block and keeps it; called on the audio thread.
  void renderBlock();

  double audioSeconds() const { return driver_ ? driver_->outputSeconds() : 0.0; }
  int startedCount() const { return started_.load(); }
  int finishedCount() const { return finished_.load(); }
  // True once "finished" came after the latest "synthesisStarted".
  bool idleAfterSpeech() const { return idle_.load(); }
  const Audio& audio() const { return audio_; }
  void setPaced(bool paced) { driver_->setRealtimePacing(paced); }

 private:
  HostSession& session_;
  RenderOptions options_;
  std::unique_ptr<quorvel::AudioSourceNode> node_;
  std::unique_ptr<quorvel::AudioGraphDriver> driver_;
  Audio audio_;
  std::atomic<int> started_{0};
  std::atomic<int> finished_{0};
  std::atomic<bool> idle_{false};
};

}  // namespace qs_cli
