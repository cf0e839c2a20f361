// A separate project using the installed package: the extension's factory,
// and the speech-to-text node constructed, loaded with the recognizer files
// given, fed a WAV file through consume and asked for its segments.
// Usage: consumer <model> <tokens> <graph> <16-bit mono WAV>
#include <sherpa/SherpaExtension.h>
#include <sherpa/SherpaSTTNode.h>
#include <quorvel/AudioBuffer.h>
#include <quorvel/AudioBus.h>
#include <quorvel/Logger.h>
#include <quorvel/NodeFactory.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// Mono 16-bit PCM samples and their rate; empty when the file is not that.
std::vector<float> readWav(const char* path, int& rate) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<float> samples;
  auto u32 = [&](size_t p) { uint32_t v; std::memcpy(&v, &b[p], 4); return v; };
  for (size_t pos = 12; pos + 8 <= b.size(); pos += 8 + u32(pos + 4) + (u32(pos + 4) & 1)) {
    if (std::memcmp(&b[pos], "fmt ", 4) == 0) rate = static_cast<int>(u32(pos + 12));
    if (std::memcmp(&b[pos], "data", 4) != 0) continue;
    for (size_t k = pos + 8; k + 1 < pos + 8 + u32(pos + 4) && k + 1 < b.size(); k += 2) {
      int16_t s;
      std::memcpy(&s, &b[k], 2);
      samples.push_back(s / 32768.0f);
    }
  }
  return samples;
}

}  // namespace

int main(int argc, char** argv) {
  using quorvel::extensions::sherpa::SherpaExtension;
  using quorvel::extensions::sherpa::SherpaSTTNode;
  if (argc != 5) return 2;
  quorvel::Logger::setLevel(quorvel::LogLevel::Error);
  SherpaExtension::load();
  auto ext = quorvel::ExtensionManager::getInstance().findExtension("Sherpa");
  auto types = ext->getNodeFactory()->getNodeTypes();
  std::printf("%s %zu %s\n", ext->getName().c_str(), types.size(), types[0].displayName.c_str());

  int rate = 0;
  std::vector<float> audio = readWav(argv[4], rate);
  // Silence after the speech, for the segment to end.
  audio.resize(audio.size() + static_cast<size_t>(rate) * 2, 0.0f);
  SherpaSTTNode node;
  quorvel::AudioBusFormat format{rate, 1};
  if (audio.empty() || !node.setEndpointDetection(true) || !node.loadSherpaModel(argv[1], argv[2], argv[3]) ||
      !node.setBusFormat(format)) {
    return 1;
  }
  const size_t block = static_cast<size_t>(rate) / 100;
  for (size_t i = 0; i + block <= audio.size(); i += block) {
    float* channel = audio.data() + i;
    quorvel::AudioBuffer<float> buffer(1, static_cast<unsigned>(block), false, rate, &channel);
    quorvel::AudioBus bus(&buffer);
    if (!node.consume(bus)) return 1;
  }
  for (SherpaSTTNode::SegmentResult r = node.processSegment(); r.isFinal; r = node.processSegment()) {
    std::printf("%s\n", r.text.c_str());
  }
}
