// QuorvelSherpa: on-device speech for Quorvel audio graphs.
//
// The library's whole exported surface is this class. A host application
// calls SherpaExtension::load() once; that registers an extension named
// "Sherpa" with the framework's ExtensionManager, which owns it from then
// on. Through it the framework obtains a node factory that creates the
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
// Threads: load and getNodeFactory may run on any thread; the class keeps
// no state. Nothing here throws except std::bad_alloc.
#pragma once

#include <memory>
#include <string>

#include <quorvel/Extension.h>

// The module hides every other symbol; this class is exported. The module's
// own build defines QUORVEL_SHERPA_BUILDING.
#if defined(_WIN32)
#if defined(QUORVEL_SHERPA_BUILDING)
#define QUORVEL_SHERPA_EXPORT __declspec(dllexport)
#else
#define QUORVEL_SHERPA_EXPORT __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define QUORVEL_SHERPA_EXPORT __attribute__((visibility("default")))
#else
#define QUORVEL_SHERPA_EXPORT
#endif

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
