#include "quorvel/NodeFactory.h"

namespace quorvel {

NodeFactory::NodeFactory() = default;
NodeFactory::~NodeFactory() = default;

std::string NodeFactory::getFactoryName() { return {}; }

std::vector<NodeTypeInfo> NodeFactory::getNodeTypes() {
  std::vector<NodeTypeInfo> types;
  types.reserve(registrations_.size());
  for (const auto& r : registrations_) types.push_back(r.info);
  return types;
}

Node* NodeFactory::createNode(const std::string& type, const QVAnyMap& config) {
  for (const auto& r : registrations_) {
    if (type == r.info.type || type == r.info.library + "." + r.info.type) {
      return r.creator ? r.creator(config) : nullptr;
    }
  }
  return nullptr;
}

void NodeFactory::registerNode(const NodeTypeInfo& info, Creator creator) {
  registrations_.push_back(Registration{info, std::move(creator)});
}

}  // namespace quorvel
