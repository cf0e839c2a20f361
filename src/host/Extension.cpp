#include "quorvel/Extension.h"

#include <algorithm>

#include "quorvel/NodeFactory.h"

namespace quorvel {

Extension::Extension() = default;
Extension::~Extension() = default;
Result<void> Extension::initialize(const QVAnyMap&) { return Result<void>::success(); }
Result<void> Extension::deinitialize() { return Result<void>::success(); }
std::string Extension::getName() { return {}; }
std::shared_ptr<NodeFactory> Extension::getNodeFactory() { return nullptr; }

ExtensionManager& ExtensionManager::getInstance() {
  static ExtensionManager manager;
  return manager;
}

void ExtensionManager::registerExtension(std::shared_ptr<Extension> extension) {
  if (!extension) return;
  std::lock_guard<std::mutex> lock(mutex_);
  extensions_.push_back(std::move(extension));
}

std::shared_ptr<Extension> ExtensionManager::findExtension(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& e : extensions_) {
    if (e->getName() == name) return e;
  }
  return nullptr;
}

std::vector<std::shared_ptr<Extension>> ExtensionManager::getExtensions() {
  std::lock_guard<std::mutex> lock(mutex_);
  return extensions_;
}

std::size_t ExtensionManager::unregisterExtension(const std::string& name) {
  std::vector<std::shared_ptr<Extension>> dropped;  // destroyed after the lock
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = std::stable_partition(extensions_.begin(), extensions_.end(),
                                  [&](const auto& e) { return e->getName() != name; });
  dropped.assign(std::make_move_iterator(it), std::make_move_iterator(extensions_.end()));
  extensions_.erase(it, extensions_.end());
  return dropped.size();
}

void ExtensionManager::clear() {
  std::vector<std::shared_ptr<Extension>> dropped;
  std::lock_guard<std::mutex> lock(mutex_);
  dropped.swap(extensions_);
}

}  // namespace quorvel
