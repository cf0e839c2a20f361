// QuorvelSherpa: on-device speech for Quorvel audio graphs.
//
// The library's entry point. A host application calls
// SherpaExtension::load() once; that registers an extension named "Sherpa"
// with the framework's ExtensionManager, which owns it from then on.
// Through it the framework obtains a node factory that creates the
// text-to-speech node (type "TTS", library "Sherpa"):
//
//   quorvel::extensions::sherpa::SherpaExtension::load();
//
// The framework then asks the registered extension for nodes; the same
// steps on an extension of one's own:
//
//   quorvel::extensions::sherpa::SherpaExtension sherpa;
//   std::shared_ptr<quorvel::NodeFactory> factory = sherpa.getNodeFactory();
//   std::unique_ptr<quorvel::Node> tts(factory->createNode("TTS", {{"text", "Hello."}}));
//
// The speech-to-text node is not offered by the factory; an application
// constructs it itself (sherpa/SherpaSTTNode.h).
//
// Threads: load and getNodeFactory may run on any thread; the class keeps
// no state. Nothing here throws except std::bad_alloc.
#pragma once

#include <memory>
#include <string>

#include <quorvel/Extension.h>

#include "SherpaExport.h"

namespace quorvel::extensions::sherpa {

class QUORVEL_SHERPA_EXPORT SherpaExtension : public Extension {
 public:
  SherpaExtension();
  ~SherpaExtension() override;

  // Creates one extension and hands it to the ExtensionManager.
  static void load();

  // "Sherpa".
  std::string getName() override;
  // A new factory on every call; the extension keeps no reference to it.
  std::shared_ptr<NodeFactory> getNodeFactory() override;
};

}  // namespace quorvel::extensions::sherpa
