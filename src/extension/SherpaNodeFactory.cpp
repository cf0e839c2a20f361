#include "SherpaNodeFactory.h"

#include <functional>

#include <quorvel/Metadata.h>

#include "tts/SherpaTTSNode.h"

namespace quorvel::extensions::sherpa {

SherpaNodeFactory::SherpaNodeFactory() {
  std::function<Node*(const QVAnyMap&)> creator = [](const QVAnyMap& config) -> Node* {
    return new SherpaTTSNode(config);
  };
  NodeTypeInfo info{"Sherpa",
                    "TTS",
                    "Sherpa Text-to-Speech",
                    "A text-to-speech node using the Sherpa library.",
                    {metadata::CATEGORY_VOICE, metadata::CATEGORY_AI},
                    QVAnyMap()};
  registerNode(info, creator);
}

std::string SherpaNodeFactory::getFactoryName() { return "Sherpa"; }

}  // namespace quorvel::extensions::sherpa
