#include "SherpaTTSNode.h"

namespace quorvel::extensions::sherpa {

class SherpaTTSNode::Internals {};

SherpaTTSNode::SherpaTTSNode(const QVAnyMap&) : internals(std::make_unique<Internals>()) {
  typeName = "SherpaTTSNode";
}

SherpaTTSNode::~SherpaTTSNode() = default;

}  // namespace quorvel::extensions::sherpa
