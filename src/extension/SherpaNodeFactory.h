// The node factory of the Sherpa extension: one node type, the
// text-to-speech node, registered at construction.
#pragma once

#include <string>

#include <quorvel/NodeFactory.h>

namespace quorvel::extensions::sherpa {

class SherpaNodeFactory : public NodeFactory {
 public:
  SherpaNodeFactory();
  ~SherpaNodeFactory() override = default;

  // "Sherpa", the same text as the extension's name and the record's library.
  std::string getFactoryName() override;
};

}  // namespace quorvel::extensions::sherpa
