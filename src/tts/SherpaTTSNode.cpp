// The node shell: construction, action dispatch and the registered metadata.
// Every operation forwards to Internals.
#include "SherpaTTSNode.h"

#include <quorvel/Logger.h>
#include <quorvel/Metadata.h>

#include "ParameterShape.h"
#include "TTSInternals.h"

namespace quorvel::extensions::sherpa {

namespace md = quorvel::metadata;

namespace {

QVAnyMap parameter(const std::string& name, const std::string& description, const std::string& type,
                   bool isOptional) {
  return QVAnyMap{{md::PARAM_NAME, QVAny(name)},
                  {md::PARAM_DESCRIPTION, QVAny(description)},
                  {md::PARAM_TYPE, QVAny(type)},
                  {md::PARAM_IS_OPTIONAL, QVAny(isOptional)}};
}

QVAnyMap synthesizeMetadata() {
  return QVAnyMap{
      {md::ACTION_DESCRIPTION, QVAny("Synthesizes text to speech.")},
      {md::ACTION_PARAMETERS,
       QVAny(QVAnyMap{{"text", QVAny(parameter("text", "The text to synthesize.", md::PARAM_TYPE_STRING, false))}})}};
}

QVAnyMap appendStreamingTextMetadata() {
  return QVAnyMap{
      {md::ACTION_DESCRIPTION,
       QVAny("Appends streaming text to the synthesis buffer. Synthesizes at sentence boundaries.")},
      {md::ACTION_PARAMETERS,
       QVAny(QVAnyMap{
           {"token", QVAny(parameter("token", "The token text to append.", md::PARAM_TYPE_STRING, false))},
           {"isFinal", QVAny(parameter("isFinal", "True if this is the final token.", md::PARAM_TYPE_BOOLEAN, true))}})}};
}

QVAnyMap clearStreamingBufferMetadata() {
  return QVAnyMap{{md::ACTION_DESCRIPTION, QVAny("Clears the streaming text buffer without synthesizing.")}};
}

QVAnyMap stopMetadata() {
  return QVAnyMap{{md::ACTION_DESCRIPTION,
                   QVAny("Stops speaking at once: fades out what plays and drops queued speech and held streaming "
                         "text, without \"finished\".")}};
}

QVAnyMap finishedMetadata() {
  return QVAnyMap{{md::EVENT_DESCRIPTION, QVAny("Emitted when the synthesized audio has finished playing.")}};
}

QVAnyMap eventField(const std::string& name, const std::string& type, const std::string& description) {
  return QVAnyMap{{md::EVENT_DATA_NAME, QVAny(name)},
                  {md::EVENT_DATA_TYPE, QVAny(type)},
                  {md::EVENT_DATA_DESCRIPTION, QVAny(description)}};
}

QVAnyMap spokenMetadata() {
  return QVAnyMap{
      {md::EVENT_NAME, QVAny("spoken")},
      {md::EVENT_DESCRIPTION,
       QVAny("Emitted while a segment plays, once playback has passed the estimated end of a further word.")},
      {md::EVENT_DATA,
       QVAny(QVAnyMap{{"text", QVAny(eventField("text", md::EVENT_TYPE_STRING,
                                                "The word just spoken, with the spaces and punctuation before it."))},
                      {"sequence", QVAny(eventField("sequence", md::EVENT_TYPE_INT,
                                                    "The number of the segment, as in \"synthesisStarted\"."))}})}};
}

QVAnyMap synthesisStartedMetadata() {
  return QVAnyMap{
      {md::EVENT_NAME, QVAny("synthesisStarted")},
      {md::EVENT_DESCRIPTION, QVAny("Emitted when synthesis of a text segment begins.")},
      {md::EVENT_DATA,
       QVAny(QVAnyMap{{"text", QVAny(eventField("text", md::EVENT_TYPE_STRING, "The text being synthesized."))},
                      {"sequence", QVAny(eventField("sequence", md::EVENT_TYPE_INT,
                                                    "The segment's number: segments are numbered in the order "
                                                    "their text reached the node."))}})}};
}

// A map or an empty value where a scalar is expected would convert to ""
// or false without a word; scalars convert (a number is spoken as digits).
bool isScalar(const QVAny& value) { return shapeOf(value) == ParameterShape::Scalar; }

std::string wrongType(const std::string& key, const QVAny& value, const std::string& expected) {
  return "Wrong type for parameter: " + key + " (" + shapeName(shapeOf(value)) + ", expected " + expected + ")";
}

// Reads a required string parameter; returns why it cannot be read, or ""
// when `out` holds it.
std::string readString(const QVAnyMap& params, const std::string& key, std::string& out) {
  if (!params.hasKey(key)) return "Missing parameter: " + key;
  const QVAny value = params.at(key);
  if (!isScalar(value)) return wrongType(key, value, md::PARAM_TYPE_STRING);
  out = QVAny::convert<std::string>(value);
  return {};
}

// Reads an optional boolean parameter: absent or empty is false, scalars
// convert by the host's rule ("true" and "1" are true). A map is refused: it
// is a misplaced structure, not a flag, and would silently mean false.
std::string readOptionalBool(const QVAnyMap& params, const std::string& key, bool& out) {
  out = false;
  if (!params.hasKey(key)) return {};
  const QVAny value = params.at(key);
  if (shapeOf(value) == ParameterShape::Map) return wrongType(key, value, md::PARAM_TYPE_BOOLEAN);
  out = QVAny::convert<bool>(value);
  return {};
}

Result<QVAny> refuse(const std::string& action, const std::string& why) {
  Logger::error(SherpaTTSNode::Internals::kLogTag + " Action '" + action + "' refused: " + why);
  return Result<QVAny>::failure(why);
}

}  // namespace

SherpaTTSNode::SherpaTTSNode(const QVAnyMap& config) : internals(std::make_unique<Internals>(this, "en")) {
  typeName = "SherpaTTSNode";
  for (const auto& [key, value] : config) {
    if (key == "text") {
      internals->synthesize(QVAny::convert<std::string>(value));
    } else if (key == "prepareAhead") {
      // Read before "text" (keys come in ascending order).
      internals->prepareAhead = QVAny::convert<bool>(value);
    } else {
      Logger::error("Unknown parameter: " + key);
    }
  }
  registerAction("synthesize", synthesizeMetadata());
  registerAction("appendStreamingText", appendStreamingTextMetadata());
  registerAction("clearStreamingBuffer", clearStreamingBufferMetadata());
  registerAction("stop", stopMetadata());
  registerEvent("finished", finishedMetadata());
  registerEvent("synthesisStarted", synthesisStartedMetadata());
  registerEvent("spoken", spokenMetadata());
}

SherpaTTSNode::~SherpaTTSNode() { Logger::info(Internals::kLogTag + " Destructor called"); }

Result<QVAny> SherpaTTSNode::callAction(const std::string& actionName, const QVAnyMap& params) {
  if (actionName == "synthesize") {
    std::string text;
    if (auto why = readString(params, "text", text); !why.empty()) return refuse(actionName, why);
    if (const size_t size = Internals::cleanedTextLength(text); size > Internals::kMaxSynthesisTextBytes)
      return refuse(actionName, "Text too long: " + std::to_string(size) + " bytes (at most " +
                                    std::to_string(Internals::kMaxSynthesisTextBytes) + ")");
    Logger::debug(Internals::kLogTag + " Action 'synthesize' called with text: " + text);
    return Result<QVAny>(synthesize(text));
  }
  if (actionName == "appendStreamingText") {
    std::string token;
    bool isFinal = false;
    if (auto why = readString(params, "token", token); !why.empty()) return refuse(actionName, why);
    if (auto why = readOptionalBool(params, "isFinal", isFinal); !why.empty()) return refuse(actionName, why);
    Logger::debug(Internals::kLogTag + " Action 'appendStreamingText' called with token: " + token);
    appendStreamingText(token, isFinal);
    return Result<QVAny>(QVAny());
  }
  if (actionName == "clearStreamingBuffer") {
    Logger::debug(Internals::kLogTag + " Action 'clearStreamingBuffer' called");
    clearStreamingBuffer();
    return Result<QVAny>(QVAny());
  }
  if (actionName == "stop") {
    Logger::debug(Internals::kLogTag + " Action 'stop' called");
    return Result<QVAny>(QVAny(stop()));
  }
  if (actionName == "loadModel") {
    std::string modelPath;
    std::string tokensPath;
    std::string dataPath;
    for (auto [key, out] : {std::pair{"modelPath", &modelPath}, std::pair{"tokensPath", &tokensPath},
                            std::pair{"dataPath", &dataPath}}) {
      if (auto why = readString(params, key, *out); !why.empty()) return refuse(actionName, why);
    }
    return Result<QVAny>(QVAny(loadModel(modelPath, tokensPath, dataPath)));
  }
  return SingleBusAudioSourceNode::callAction(actionName, params);
}

bool SherpaTTSNode::setBusFormat(AudioBusFormat& format) {
  if (format.numberOfChannels != 1 && format.numberOfChannels != 2) {
    Logger::error(Internals::kLogTag + " Sherpa TTS only supports mono or stereo audio.");
    return false;
  }
  // A negative rate would be taken, and then every block would be silence
  // with the speech stalled in front of it. 0 means "no rate given".
  if (format.sampleRate < 0) {
    Logger::error(Internals::kLogTag + " Unsupported sample rate: " + std::to_string(format.sampleRate) + " Hz.");
    return false;
  }
  internals->setSampleRate(format.sampleRate);
  return true;
}

bool SherpaTTSNode::produce(AudioBus& bus) { return internals->produce(bus); }

QVAny SherpaTTSNode::synthesize(const std::string& text) { return internals->synthesize(text); }

void SherpaTTSNode::appendStreamingText(const std::string& token, bool isFinal) {
  internals->appendStreamingText(token, isFinal);
}

void SherpaTTSNode::clearStreamingBuffer() { internals->clearStreamingBuffer(); }

QVAnyMap SherpaTTSNode::stop() { return internals->stop(); }

bool SherpaTTSNode::loadModel(const std::string& modelPath, const std::string& tokensPath,
                              const std::string& dataPath) {
  return internals->loadModel(modelPath, tokensPath, dataPath);
}

}  // namespace quorvel::extensions::sherpa
