#include "sherpa/SherpaExtension.h"

#include "SherpaNodeFactory.h"

namespace quorvel::extensions::sherpa {

SherpaExtension::SherpaExtension() = default;
SherpaExtension::~SherpaExtension() = default;

void SherpaExtension::load() {
  ExtensionManager& manager = ExtensionManager::getInstance();
  std::shared_ptr<Extension> extension = std::make_shared<SherpaExtension>();
  manager.registerExtension(std::move(extension));
}

std::string SherpaExtension::getName() { return "Sherpa"; }

std::shared_ptr<NodeFactory> SherpaExtension::getNodeFactory() {
  std::shared_ptr<NodeFactory> factory = std::make_shared<SherpaNodeFactory>();
  return factory;
}

}  // namespace quorvel::extensions::sherpa
