#include "quorvel/QuorvelObject.h"

#include <algorithm>

namespace quorvel {

QuorvelObject::QuorvelObject() = default;
QuorvelObject::~QuorvelObject() = default;

Result<void> QuorvelObject::setValue(const std::string& key, const QVAny&) {
  return Result<void>::failure("Unknown value: " + key);
}

Result<QVAny> QuorvelObject::getValue(const std::string& key) {
  return Result<QVAny>::failure("Unknown value: " + key);
}

Result<QVAny> QuorvelObject::callAction(const std::string& actionName, const QVAnyMap&) {
  return Result<QVAny>::failure("Unknown action: " + actionName);
}

static void upsert(QuorvelObject::Registry& registry, const std::string& name, const QVAnyMap& metadata) {
  auto it = std::find_if(registry.begin(), registry.end(), [&](const auto& e) { return e.first == name; });
  if (it != registry.end()) {
    it->second = metadata;
  } else {
    registry.emplace_back(name, metadata);
  }
}

void QuorvelObject::registerAction(const std::string& name, const QVAnyMap& metadata) {
  upsert(actions_, name, metadata);
}

void QuorvelObject::registerEvent(const std::string& name, const QVAnyMap& metadata) {
  upsert(events_, name, metadata);
}

}  // namespace quorvel
