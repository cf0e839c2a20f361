// Text-to-speech node (work in progress: surface only).
#pragma once

#include <memory>

#include <quorvel/Node.h>
#include <quorvel/QVAny.h>

namespace quorvel::extensions::sherpa {

class SherpaTTSNode : public SingleBusAudioSourceNode {
 public:
  explicit SherpaTTSNode(const QVAnyMap& config);
  ~SherpaTTSNode() override;

  class Internals;

 private:
  std::unique_ptr<Internals> internals;
};

}  // namespace quorvel::extensions::sherpa
