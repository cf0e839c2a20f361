#include "LiveRecognizer.h"

#include <cmath>
#include <filesystem>

#include "SegmentPrinter.h"
#include "models/ModelPaths.h"

namespace qs_cli {

namespace {
constexpr int kRecognizerRate = 16000;
constexpr double kBlockSeconds = 0.01;

sound::StreamFormat captureFormat() {
  sound::StreamFormat format;
  format.sampleRate = kRecognizerRate;
  format.channels = 1;
  format.blockFrames = static_cast<unsigned>(std::lround(format.sampleRate * kBlockSeconds));
  return format;
}
}  // namespace

std::string missingRecognizer() {
  const std::string model = quorvel::extensions::sherpa::resolveSTTModelPath();
  if (std::filesystem::exists(model)) return {};
  return "the recognizer model is missing at " + model + " (run scripts/setup.sh)";
}

LiveRecognizer::LiveRecognizer(sound::SoundServer& server)
    : format_(captureFormat()), feed_(node_, format_.sampleRate, format_.blockFrames), capture_(server) {}

bool LiveRecognizer::prepare(const EndpointOptions& endpoints, std::string& error) {
  quorvel::AudioBusFormat busFormat{format_.sampleRate, 1};
  if (!node_.setBusFormat(busFormat)) {
    error = "the recognition node refused " + std::to_string(format_.sampleRate) + " Hz";
    return false;
  }
  error = applyEndpoints(node_, endpoints);
  return error.empty();
}

bool LiveRecognizer::start(const sound::DeviceInfo& device, std::string& error) {
  return capture_.start(
      device, format_, [this](const float* mono, std::size_t frames) { feed_.deliver(mono, frames); }, error);
}

}  // namespace qs_cli
