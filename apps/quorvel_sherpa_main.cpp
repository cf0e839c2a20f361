// quorvel-sherpa: a command-line host for the Sherpa extension.
//
//   quorvel-sherpa nodes    lists the node types of every registered extension
#include <cstdio>
#include <cstring>
#include <string>

#include <quorvel/Extension.h>
#include <quorvel/NodeFactory.h>

#include "sherpa/SherpaExtension.h"

using namespace quorvel;

static int listNodes() {
  for (const auto& extension : ExtensionManager::getInstance().getExtensions()) {
    auto factory = extension->getNodeFactory();
    std::printf("extension %s\n", extension->getName().c_str());
    if (!factory) continue;
    for (const NodeTypeInfo& info : factory->getNodeTypes()) {
      std::printf("  %s.%s  \"%s\"\n    %s\n    categories:", info.library.c_str(), info.type.c_str(),
                  info.displayName.c_str(), info.description.c_str());
      for (const auto& c : info.categories) std::printf(" %s", c.c_str());
      std::printf("\n");
    }
  }
  return 0;
}

int main(int argc, char** argv) {
  extensions::sherpa::SherpaExtension::load();
  std::string command = argc > 1 ? argv[1] : "nodes";
  if (command == "nodes") return listNodes();
  std::fprintf(stderr, "quorvel-sherpa: unknown command '%s'\n", command.c_str());
  return 2;
}
