#include "SegmentPrinter.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>

#include <quorvel/QVAny.h>

#include "models/ModelPaths.h"

namespace qs_cli {

std::string applyEndpoints(quorvel::extensions::sherpa::SherpaSTTNode& node, const EndpointOptions& endpoints) {
  namespace sherpa = quorvel::extensions::sherpa;
  if (!endpoints.enabled) return {};
  if (!node.setEndpointDetection(true, static_cast<float>(endpoints.silence))) {
    return "--endpoint-silence must be more than 0 and at most 60 seconds";
  }
  // The setting reaches the engine with a load.
  if (!node.loadSherpaModel(sherpa::resolveSTTModelPath(), sherpa::resolveSTTTokensPath(),
                            sherpa::resolveSTTGraphPath())) {
    return "the recognizer did not load with endpoint detection";
  }
  return {};
}

SegmentPrinter::SegmentPrinter(HostSession& session) : session_(session), terminal_(::isatty(1) != 0) {}

void SegmentPrinter::show(const quorvel::extensions::sherpa::SherpaSTTNode::SegmentResult& result,
                          double audioSeconds) {
  if (!result.isFinal && !result.textGrew) return;
  heard_ = true;
  if (session_.json()) {
    quorvel::QVAnyMap payload{{"text", result.text},
                              {"isFinal", result.isFinal},
                              {"segment", static_cast<int64_t>(result.segment)}};
    session_.reportEvent("text", quorvel::QVAny(payload), std::round(audioSeconds * 1000) / 1000);
    return;
  }
  if (terminal_) {
    // Carriage return and erase-to-end: the segment's line is rewritten.
    std::printf("\r%s\x1b[K%s", result.text.c_str(), result.isFinal ? "\n" : "");
    interimShown_ = !result.isFinal;
  } else {
    std::printf("%s\n", result.text.c_str());
  }
  std::fflush(stdout);
}

void SegmentPrinter::finish() {
  if (!interimShown_) return;
  std::printf("\n");
  std::fflush(stdout);
  interimShown_ = false;
}

}  // namespace qs_cli
