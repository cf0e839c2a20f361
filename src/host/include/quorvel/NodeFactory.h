// Node type records and the factories that create nodes from them.
//
// A factory registers one record and one creator per node type; the record
// is copied. createNode accepts a record's `type` ("TTS") or its qualified
// form `library + "." + type` ("Sherpa.TTS"); for any other string it
// returns nullptr without running a creator. The caller owns the node.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Node.h"
#include "QVAny.h"

namespace quorvel {

struct NodeTypeInfo {
  std::string library;
  std::string type;
  std::string displayName;
  std::string description;
  std::vector<std::string> categories;
  QVAnyMap metadata;
};

class NodeFactory {
 public:
  using Creator = std::function<Node*(const QVAnyMap&)>;

  NodeFactory();
  virtual ~NodeFactory();
  NodeFactory(const NodeFactory&) = delete;
  NodeFactory& operator=(const NodeFactory&) = delete;

  virtual std::string getFactoryName();
  virtual std::vector<NodeTypeInfo> getNodeTypes();
  virtual Node* createNode(const std::string& type, const QVAnyMap& config);

 protected:
  void registerNode(const NodeTypeInfo& info, Creator creator);

 private:
  struct Registration {
    NodeTypeInfo info;
    Creator creator;
  };
  std::vector<Registration> registrations_;
};

}  // namespace quorvel
