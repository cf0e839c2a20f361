// Nodes of the audio graph.
//
// Node carries a type name (nodes set it to their class name) and is what
// factories hand out; the graph owns nodes and destroys them through the
// virtual destructor. AudioNode adds the block interface: the graph settles
// the bus formats on its configuration thread (setBusFormats), then its
// audio thread calls produce (sources) or consume (sinks) once per block.
// The single-bus forms forward the list calls to the first bus/format and
// return false when the list has none.
#pragma once

#include <string>

#include "AudioBus.h"
#include "QuorvelObject.h"

namespace quorvel {

class Node : public QuorvelObject {
 public:
  Node();
  ~Node() override;

  const std::string& getTypeName() const { return typeName; }

 protected:
  std::string typeName;
};

class AudioNode : public Node {
 public:
  // The type name, or "AudioNode" while none is set.
  virtual std::string getDisplayName();
  virtual bool setBusFormats(AudioBusFormatList& formats);
  virtual bool produce(AudioBusList& buses);
  virtual bool consume(AudioBusList& buses);
};

class AudioSourceNode : public AudioNode {};
class AudioSinkNode : public AudioNode {};

class SingleBusAudioSourceNode : public AudioSourceNode {
 public:
  bool setBusFormats(AudioBusFormatList& formats) override;
  bool produce(AudioBusList& buses) override;
  virtual bool setBusFormat(AudioBusFormat& format);
  virtual bool produce(AudioBus& bus);
  using AudioSourceNode::consume;
};

class SingleBusAudioSinkNode : public AudioSinkNode {
 public:
  bool setBusFormats(AudioBusFormatList& formats) override;
  bool consume(AudioBusList& buses) override;
  virtual bool setBusFormat(AudioBusFormat& format);
  virtual bool consume(AudioBus& bus);
  using AudioSinkNode::produce;
};

}  // namespace quorvel
