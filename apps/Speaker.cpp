#include "Speaker.h"

#include <cstdio>
#include <filesystem>

#include "models/ModelPaths.h"

namespace qs_cli {

namespace fs = std::filesystem;
using quorvel::QVAny;
using quorvel::QVAnyMap;

bool validateRenderOptions(const RenderOptions& options, std::string& error) {
  if (options.rate < 8000 || options.rate > 192000) {
    error = "sample rate " + std::to_string(options.rate) + " Hz is out of range (8000 to 192000)";
    return false;
  }
  if (options.channels != 1 && options.channels != 2) {
    error = "unsupported channel count " + std::to_string(options.channels) + " (1 or 2)";
    return false;
  }
  if (options.block < 1 || options.block > 8192) {
    error = "block size " + std::to_string(options.block) + " is out of range (1 to 8192 frames)";
    return false;
  }
  return true;
}

Speaker::Speaker(HostSession& session, const RenderOptions& options)
    : session_(session), options_(options), controlThread_(std::this_thread::get_id()) {
  audio_.sampleRate = options.rate;
  audio_.channels = options.channels;
}

Speaker::~Speaker() = default;

namespace {

// A voice folder holds one model (.onnx or .ort), tokens.txt and espeak-ng-data.
// A relative folder that is not under the working directory is looked for
// beside the program too, where its own voices are (files/...): the voice
// commands then run as written from anywhere, the repository root included.
fs::path findVoiceDir(const std::string& given) {
  fs::path dir(given);
  if (fs::is_directory(dir) || dir.is_absolute()) return dir;
  const fs::path besideProgram = quorvel::extensions::sherpa::executableDirectory() / dir;
  return fs::is_directory(besideProgram) ? besideProgram : dir;
}

bool resolveVoiceDir(VoiceOptions& voice, std::string& error) {
  const fs::path dir = findVoiceDir(voice.voiceDir);
  if (!fs::is_directory(dir)) {
    error = "voice folder '" + voice.voiceDir + "' does not exist";
    return false;
  }
  for (const auto& entry : fs::directory_iterator(dir)) {
    auto ext = entry.path().extension();
    if (ext == ".onnx" || (ext == ".ort" && voice.model.empty())) voice.model = entry.path().string();
  }
  voice.tokens = (dir / "tokens.txt").string();
  voice.dataDir = (dir / "espeak-ng-data").string();
  if (voice.model.empty()) {
    error = "no .onnx or .ort model in voice folder '" + voice.voiceDir + "'";
    return false;
  }
  return true;
}

}  // namespace

bool Speaker::open(const VoiceOptions& requested, std::string& error) {
  VoiceOptions voice = requested;
  if (voice.cost == "real") {
    voice.voiceDir = (fs::path(quorvel::extensions::sherpa::defaultTTSModelPath("en")).parent_path().parent_path() /
                      "vits-piper-en_GB-southern_english_female-low-real-cost")
                         .string();
  }
  bool custom = !voice.voiceDir.empty() || !voice.model.empty();
  if (!voice.voiceDir.empty() && !resolveVoiceDir(voice, error)) return false;
  if (custom) {
    for (const auto& [what, path] : {std::pair{"model", voice.model}, {"tokens", voice.tokens}, {"data", voice.dataDir}}) {
      if (path.empty() || !fs::exists(path)) {
        error = std::string(what) + " path '" + path + "' does not exist";
        return false;
      }
    }
  } else if (!fs::exists(quorvel::extensions::sherpa::defaultTTSModelPath("en"))) {
    error = "the default voice is missing at " + quorvel::extensions::sherpa::defaultTTSModelPath("en") +
            " (run scripts/setup.sh, or pass --voice)";
    return false;
  }

  auto factory = session_.factory();
  if (!factory) return false;
  quorvel::Node* created = factory->createNode("TTS", QVAnyMap{{"prepareAhead", QVAny(voice.prepareAhead)}});
  node_.reset(dynamic_cast<quorvel::AudioSourceNode*>(created));
  if (!node_) {
    delete created;
    error = "the factory did not create an audio node";
    return false;
  }
  auto report = [this](const std::string& name, const QVAny& payload) {
    if (std::this_thread::get_id() == controlThread_) {
      flushEvents();
      session_.reportEvent(name, payload, audioSeconds());
    } else {
      audioThreadEvents_.push(name, payload, audioSeconds(), session_.wallSeconds());
    }
  };
  node_->addListener("synthesisStarted", [this, report](const std::string& name, const QVAny& payload) {
    started_++;
    report(name, payload);
  });
  node_->addListener("finished", [this, report](const std::string& name, const QVAny& payload) {
    finished_++;
    report(name, payload);
  });
  // Captions: the words as they are heard, when playback is in real time.
  if (options_.play || options_.realtime) node_->addListener("spoken", report);

  if (custom) {
    auto loaded = node_->callAction("loadModel", QVAnyMap{{"modelPath", voice.model},
                                                          {"tokensPath", voice.tokens},
                                                          {"dataPath", voice.dataDir}});
    if (!loaded.isOk() || !QVAny::convert<bool>(loaded.value())) {
      error = "the voice failed to load from '" + voice.model + "'";
      return false;
    }
  }
  driver_ = std::make_unique<AudioGraphDriver>(*node_, options_.rate, options_.channels, options_.block);
  if (!driver_->configure()) {
    error = "the node refused the format " + std::to_string(options_.rate) + " Hz, " +
            std::to_string(options_.channels) + " channels";
    return false;
  }
  audio_.interleaved.reserve(static_cast<std::size_t>(options_.rate) * options_.channels * 60);
  return true;
}

quorvel::Result<QVAny> Speaker::action(const std::string& name, const QVAnyMap& params) {
  return node_->callAction(name, params);
}

const quorvel::AudioBuffer<float>& Speaker::renderBlock() {
  driver_->renderBlock();
  framesRendered_.store(driver_->framesRendered());
  return driver_->lastBlock();
}

void Speaker::keep(const quorvel::AudioBuffer<float>& block) {
  for (unsigned f = 0; f < block.getNumberOfFrames(); ++f) {
    for (unsigned c = 0; c < block.getNumberOfChannels(); ++c) audio_.interleaved.push_back(block.getReadPointer(c)[f]);
  }
}

void Speaker::flushEvents() {
  audioThreadEvents_.drain([this](const QueuedEvent& event) {
    QVAnyMap payload;
    if (event.hasText) payload.set("text", event.text);
    if (event.sequence >= 0) payload.set("sequence", quorvel::QVAny(event.sequence));
    session_.reportEvent(event.name, QVAny(payload), event.audioSeconds, event.wallSeconds);
  });
  if (unsigned dropped = audioThreadEvents_.dropped(); dropped > eventsDroppedReported_) {
    std::fprintf(stderr, "quorvel-sherpa: %u events from the audio thread were lost (printed too late)\n",
                 dropped - eventsDroppedReported_);
    eventsDroppedReported_ = dropped;
  }
}

int Speaker::stopOnInterrupt() {
  const quorvel::Result<QVAny> stopped = action("stop", QVAnyMap());
  flushEvents();
  const QVAny answer = stopped.isOk() ? stopped.value() : QVAny(QVAnyMap());
  if (session_.json()) {
    session_.reportEvent("stopped", answer, audioSeconds());
  } else {
    session_.endProgress();
    const QVAnyMap fields = QVAny::convert<QVAnyMap>(answer);
    auto text = [&](const char* key) {
      return fields.hasKey(key) ? QVAny::convert<std::string>(fields.at(key)) : std::string();
    };
    std::fprintf(stderr, "interrupted: heard \"%s\"; not heard \"%s\"\n", text("heardText").c_str(),
                 text("unheardText").c_str());
  }
  return 130;
}

}  // namespace qs_cli
