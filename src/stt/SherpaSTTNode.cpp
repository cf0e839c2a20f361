#include "SherpaSTTNode.h"

#include <quorvel/Logger.h>

#include "STTInternals.h"

namespace quorvel::extensions::sherpa {

namespace {
// Ten seconds at the default rate of 48000 Hz.
constexpr unsigned int kInputBufferFrames = 480000;
}  // namespace

SherpaSTTNode::SherpaSTTNode() : SherpaSTTNode(QVAnyMap()) {}

SherpaSTTNode::SherpaSTTNode(const QVAnyMap& /*config*/)
    : internals(std::make_unique<Internals>(kInputBufferFrames)) {
  typeName = "SherpaSTTNode";
}

SherpaSTTNode::~SherpaSTTNode() { Logger::info(Internals::kLogTag + " Destructor called"); }

bool SherpaSTTNode::loadSherpaModel(const std::string& modelPath, const std::string& tokensPath,
                                    const std::string& graphPath) {
  return internals->loadSherpaModel(modelPath, tokensPath, graphPath);
}

bool SherpaSTTNode::setBusFormat(AudioBusFormat& format) { return internals->setBusFormat(format); }

bool SherpaSTTNode::consume(AudioBus& bus) { return internals->consume(bus); }

std::string SherpaSTTNode::processAudio() { return internals->processAudio(); }

bool SherpaSTTNode::setEndpointDetection(bool enabled, float trailingSilenceSeconds) {
  return internals->setEndpointDetection(enabled, trailingSilenceSeconds);
}

SherpaSTTNode::SegmentResult SherpaSTTNode::processSegment() { return internals->processSegment(); }

void SherpaSTTNode::setEnabled(bool enabled) { internals->enabled.store(enabled); }

bool SherpaSTTNode::isEnabled() { return internals->enabled.load(); }

}  // namespace quorvel::extensions::sherpa
