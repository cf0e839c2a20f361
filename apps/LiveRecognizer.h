// The recognition node fed live from an input device, for `listen` and
// `converse`: the sound server delivers the device's audio as one channel
// at the recognizer's own rate (it mixes a stereo device down and converts
// the rate, so the engine resamples nothing), in 10 ms blocks, which the
// device callback hands to the node through a RecognitionFeed.
//
// Usage, on the control thread:
//   LiveRecognizer live(server);
//   if (!live.prepare(endpoints, error)) return fail(error);  // loads with the turn-end rules
//   if (!live.start(device, error)) return fail(error);       // the callback feeds the node
//   ... live.node().processSegment(), live.capture().healthy(error) ...
//   live.capture().close();
#pragma once

#include <string>

#include "Commands.h"
#include "RecognitionFeed.h"
#include "sound/CaptureStream.h"
#include "stt/SherpaSTTNode.h"

namespace qs_cli {

// "" when the recognizer's model is where the node looks for it; else the
// line that says it is missing.
std::string missingRecognizer();

class LiveRecognizer {
 public:
  explicit LiveRecognizer(sound::SoundServer& server);

  // Sets the node to the capture's rate and applies `endpoints`; false
  // with a message.
  bool prepare(const EndpointOptions& endpoints, std::string& error);
  // Starts capturing `device` into the node; false with a message.
  bool start(const sound::DeviceInfo& device, std::string& error);

  quorvel::extensions::sherpa::SherpaSTTNode& node() { return node_; }
  const RecognitionFeed& feed() const { return feed_; }
  sound::CaptureStream& capture() { return capture_; }
  const sound::StreamFormat& format() const { return format_; }

 private:
  sound::StreamFormat format_;
  quorvel::extensions::sherpa::SherpaSTTNode node_;
  RecognitionFeed feed_;
  sound::CaptureStream capture_;  // last: its callback stops before the feed and the node go
};

}  // namespace qs_cli
