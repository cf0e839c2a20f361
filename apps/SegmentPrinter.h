// Shows what the recognition node hears, segment by segment: each final
// segment on a line of its own on standard output; interim text rewritten
// in place when standard output is a terminal, or one line per update when
// it is not; or, with --json, one "text" event per update with the
// segment's number and whether it is final.
#pragma once

#include <string>

#include "Commands.h"
#include "HostSession.h"
#include "stt/SherpaSTTNode.h"

namespace qs_cli {

// With endpoints on, switches the node's endpoint detection on and reloads
// the recognizer it found; "" or what went wrong.
std::string applyEndpoints(quorvel::extensions::sherpa::SherpaSTTNode& node, const EndpointOptions& endpoints);

class SegmentPrinter {
 public:
  explicit SegmentPrinter(HostSession& session);

  // Takes one processSegment result: shows a final segment, and interim
  // text when it grew. `audioSeconds`: input heard so far.
  void show(const quorvel::extensions::sherpa::SherpaSTTNode::SegmentResult& result, double audioSeconds);
  // Ends an interim line left in place on a terminal.
  void finish();

  bool heardAnything() const { return heard_; }

 private:
  HostSession& session_;
  bool terminal_;
  bool interimShown_ = false;
  bool heard_ = false;
};

}  // namespace qs_cli
