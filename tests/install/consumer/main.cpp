// A separate project using the installed package.
#include <sherpa/SherpaExtension.h>
#include <quorvel/NodeFactory.h>
#include <cstdio>
int main() {
  quorvel::extensions::sherpa::SherpaExtension::load();
  auto ext = quorvel::ExtensionManager::getInstance().findExtension("Sherpa");
  auto types = ext->getNodeFactory()->getNodeTypes();
  std::printf("%s %zu %s\n", ext->getName().c_str(), types.size(), types[0].displayName.c_str());
}
