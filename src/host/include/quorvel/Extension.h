// Extensions and the process-wide extension manager.
//
// An application loads an extension library and calls its entry point,
// which registers an Extension object with the one ExtensionManager of the
// process; the manager owns it from then on. The framework then asks the
// extension for its node factory whenever it needs one.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "QuorvelObject.h"

namespace quorvel {

class NodeFactory;

class Extension : public QuorvelObject {
 public:
  Extension();
  ~Extension() override;

  // Default implementations succeed and do nothing.
  virtual Result<void> initialize(const QVAnyMap& config);
  virtual Result<void> deinitialize();
  virtual std::string getName();
  virtual std::shared_ptr<NodeFactory> getNodeFactory();
};

class ExtensionManager {
 public:
  static ExtensionManager& getInstance();

  // Keeps the extension; a null pointer is ignored. Several extensions may
  // share a name; lookups find the earliest registered.
  void registerExtension(std::shared_ptr<Extension> extension);
  std::shared_ptr<Extension> findExtension(const std::string& name);
  std::vector<std::shared_ptr<Extension>> getExtensions();
  // Drops the manager's references to every extension of that name; the
  // number dropped.
  std::size_t unregisterExtension(const std::string& name);
  void clear();

 private:
  ExtensionManager() = default;
  std::mutex mutex_;
  std::vector<std::shared_ptr<Extension>> extensions_;
};

}  // namespace quorvel
