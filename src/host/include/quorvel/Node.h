// Nodes of the audio graph.
//
// Node carries a type name (nodes set it to their class name) and is what
// factories hand out; the graph owns nodes and destroys them through the
// virtual destructor. AudioNode adds the format interface: the graph settles
// the bus formats on its configuration thread (setBusFormats). Its audio
// thread then calls produce on sources, consume on sinks, once per block;
// each base declares only its own, so a source's and a sink's virtual slots
// run in the same order (destructor, the QuorvelObject three,
// getDisplayName, setBusFormats, the list form, then the single-bus
// setBusFormat and bus form). The single-bus forms forward the list calls
// to the first bus/format and return false when the list has none.
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
};

class AudioSourceNode : public AudioNode {
 public:
  virtual bool produce(AudioBusList& buses);
};

class AudioSinkNode : public AudioNode {
 public:
  virtual bool consume(AudioBusList& buses);
};

class SingleBusAudioSourceNode : public AudioSourceNode {
 public:
  bool setBusFormats(AudioBusFormatList& formats) override;
  bool produce(AudioBusList& buses) override;
  virtual bool setBusFormat(AudioBusFormat& format);
  virtual bool produce(AudioBus& bus);
};

class SingleBusAudioSinkNode : public AudioSinkNode {
 public:
  bool setBusFormats(AudioBusFormatList& formats) override;
  bool consume(AudioBusList& buses) override;
  virtual bool setBusFormat(AudioBusFormat& format);
  virtual bool consume(AudioBus& bus);
};

}  // namespace quorvel
