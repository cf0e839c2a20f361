// A text-to-speech node created through the factory and rendered by the
// host's graph driver, with its events tracked and reported.
//
// Threads. The thread that creates the Speaker is its control thread: it
// opens it and calls actions. renderBlock runs on the audio thread (the
// control thread itself when rendering offline, a pacing thread, or a
// device callback). Events raised on the control thread are printed at
// once; events raised elsewhere are queued and printed by the control
// thread's next flushEvents() (or next event), in the order raised.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include <quorvel/Node.h>

#include "AudioGraphDriver.h"
#include "EventQueue.h"
#include "HostSession.h"
#include "WavFile.h"

namespace qs_cli {

struct VoiceOptions {
  std::string voiceDir;
  std::string model;
  std::string tokens;
  std::string dataDir;
  // "demo": the demonstration voice; "real": its real-cost variant, which
  // sounds the same and costs what a real voice costs to generate.
  std::string cost = "demo";
  bool prepareAhead = false;  // the node's "prepareAhead" creation key
};

struct RenderOptions {
  int rate = 48000;
  unsigned channels = 1;
  unsigned block = 480;
  bool realtime = false;
  std::string output;
  bool play = false;        // through an output device
  std::string device;       // its name; empty: the default one
  bool rateGiven = false;   // --rate was given: play at it, not at the device's
  bool channelsGiven = false;
  bool blockGiven = false;
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
  // Renders one block on the calling (audio) thread and returns it.
  const quorvel::AudioBuffer<float>& renderBlock();
  // Appends a rendered block to audio(); not for a device callback (it
  // grows a vector).
  void keep(const quorvel::AudioBuffer<float>& block);
  // Control thread: prints the events the audio thread raised.
  void flushEvents();
  // Control thread, on Ctrl-C: sends "stop", prints what the listener heard
  // and what not ("stopped" with --json) and returns the exit status, 130.
  int stopOnInterrupt();

  // Output rendered so far; safe from any thread.
  double audioSeconds() const { return static_cast<double>(framesRendered_.load()) / options_.rate; }
  int startedCount() const { return started_.load(); }
  int finishedCount() const { return finished_.load(); }
  // True once every announced segment has finished: pieces queue behind
  // the one that plays, each announced before the one before it ends (or,
  // prepared ahead, in the very block it ends), so one "finished" is not the
  // end of the speech.
  bool everySegmentFinished() const {
    const int finished = finished_.load();  // first: a start counted after it is not missed
    return finished >= started_.load();
  }
  const Audio& audio() const { return audio_; }
  void setPaced(bool paced) { driver_->setRealtimePacing(paced); }

 private:
  HostSession& session_;
  RenderOptions options_;
  std::unique_ptr<quorvel::AudioSourceNode> node_;
  std::unique_ptr<AudioGraphDriver> driver_;
  Audio audio_;
  std::atomic<uint64_t> framesRendered_{0};
  std::atomic<int> started_{0};
  std::atomic<int> finished_{0};
  std::thread::id controlThread_;
  EventQueue audioThreadEvents_;
  unsigned eventsDroppedReported_ = 0;
};

}  // namespace qs_cli
