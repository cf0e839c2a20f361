// nodes: list every registered extension's node types with their record
// fields, and the actions and events a node of each type offers.
#include <cstdio>
#include <memory>

#include "Commands.h"

namespace qs_cli {

namespace {

std::string describe(const quorvel::QVAnyMap& map) {
  std::string out;
  if (map.hasKey("description")) out = quorvel::QVAny::convert<std::string>(map.at("description"));
  const quorvel::QVAny parameters = map.at("parameters");
  if (const quorvel::QVAnyMap* params = parameters.asMap()) {
    out += " (";
    bool first = true;
    for (const auto& [name, value] : *params) {
      const quorvel::QVAnyMap* p = value.asMap();
      out += (first ? "" : ", ") + name;
      if (p != nullptr) {
        out += ": " + quorvel::QVAny::convert<std::string>(p->at("type"));
        if (quorvel::QVAny::convert<bool>(p->at("isOptional"))) out += ", optional";
      }
      first = false;
    }
    out += ")";
  }
  return out;
}

// --json: one object per node type, on a line of its own.
void printJson(const std::string& extension, const std::string& factory, const quorvel::NodeTypeInfo& info,
               quorvel::Node* node) {
  nlohmann::json line = {{"extension", extension},     {"factory", factory},
                         {"library", info.library},     {"type", info.type},
                         {"displayName", info.displayName}, {"description", info.description},
                         {"categories", info.categories}, {"metadataEntries", info.metadata.size()}};
  if (node != nullptr) {
    for (const auto& [name, meta] : node->getActions()) line["actions"][name] = toJson(quorvel::QVAny(meta));
    for (const auto& [name, meta] : node->getEvents()) line["events"][name] = toJson(quorvel::QVAny(meta));
  }
  std::printf("%s\n", line.dump().c_str());
}

}  // namespace

int runNodes(HostSession& session) {
  for (const auto& extension : quorvel::ExtensionManager::getInstance().getExtensions()) {
    if (session.json()) {
      auto factory = extension->getNodeFactory();
      if (!factory) continue;
      for (const quorvel::NodeTypeInfo& info : factory->getNodeTypes()) {
        std::unique_ptr<quorvel::Node> node(factory->createNode(info.type, {}));
        printJson(extension->getName(), factory->getFactoryName(), info, node.get());
      }
      continue;
    }
    std::printf("extension %s\n", extension->getName().c_str());
    auto factory = extension->getNodeFactory();
    if (!factory) continue;
    std::printf("  factory %s\n", factory->getFactoryName().c_str());
    for (const quorvel::NodeTypeInfo& info : factory->getNodeTypes()) {
      std::printf("  node type %s.%s\n", info.library.c_str(), info.type.c_str());
      std::printf("    library:      %s\n    type:         %s\n    display name: %s\n    description:  %s\n",
                  info.library.c_str(), info.type.c_str(), info.displayName.c_str(), info.description.c_str());
      std::printf("    categories:  ");
      for (const auto& c : info.categories) std::printf(" %s", c.c_str());
      std::printf("\n    metadata:     %zu entries\n", info.metadata.size());
      std::unique_ptr<quorvel::Node> node(factory->createNode(info.type, {}));
      if (!node) continue;
      std::printf("    actions:\n");
      for (const auto& [name, meta] : node->getActions()) std::printf("      %s: %s\n", name.c_str(), describe(meta).c_str());
      std::printf("    events:\n");
      for (const auto& [name, meta] : node->getEvents()) std::printf("      %s: %s\n", name.c_str(), describe(meta).c_str());
    }
  }
  return 0;
}

}  // namespace qs_cli
