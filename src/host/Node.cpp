#include "quorvel/Node.h"

namespace quorvel {

Node::Node() = default;
Node::~Node() = default;

std::string AudioNode::getDisplayName() { return typeName.empty() ? "AudioNode" : typeName; }
bool AudioNode::setBusFormats(AudioBusFormatList&) { return false; }
bool AudioSourceNode::produce(AudioBusList&) { return false; }
bool AudioSinkNode::consume(AudioBusList&) { return false; }

bool SingleBusAudioSourceNode::setBusFormats(AudioBusFormatList& formats) {
  return !formats.empty() && setBusFormat(formats.front());
}
bool SingleBusAudioSourceNode::produce(AudioBusList& buses) {
  AudioBus* bus = buses.getBus(0);
  return bus != nullptr && bus->getBuffer() != nullptr && produce(*bus);
}
bool SingleBusAudioSourceNode::setBusFormat(AudioBusFormat&) { return true; }
bool SingleBusAudioSourceNode::produce(AudioBus& bus) {
  bus.clear();
  return true;
}

bool SingleBusAudioSinkNode::setBusFormats(AudioBusFormatList& formats) {
  return !formats.empty() && setBusFormat(formats.front());
}
bool SingleBusAudioSinkNode::consume(AudioBusList& buses) {
  AudioBus* bus = buses.getBus(0);
  return bus != nullptr && bus->getBuffer() != nullptr && consume(*bus);
}
bool SingleBusAudioSinkNode::setBusFormat(AudioBusFormat&) { return true; }
bool SingleBusAudioSinkNode::consume(AudioBus&) { return true; }

}  // namespace quorvel
