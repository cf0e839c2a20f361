// The framework's metadata vocabulary: the keys and names with which nodes
// describe their actions, events, values and categories. Each set is
// declared in its canonical order; the `...All` arrays list a set in that
// order for code that walks it.
#pragma once

#include <array>
#include <string>

namespace quorvel::metadata {

// Action description maps.
inline const std::string ACTION_NAME = "name";
inline const std::string ACTION_DESCRIPTION = "description";
inline const std::string ACTION_PARAMETERS = "parameters";
inline const std::string ACTION_HANDLER = "handler";

// Action parameter maps.
inline const std::string PARAM_NAME = "name";
inline const std::string PARAM_DESCRIPTION = "description";
inline const std::string PARAM_TYPE = "type";
inline const std::string PARAM_IS_OPTIONAL = "isOptional";

// Action parameter type names.
inline const std::string PARAM_TYPE_BOOLEAN = "boolean";
inline const std::string PARAM_TYPE_FLOAT = "float";
inline const std::string PARAM_TYPE_INT = "int";
inline const std::string PARAM_TYPE_STRING = "string";
inline const std::string PARAM_TYPE_OBJECT = "object";

// Event description maps.
inline const std::string EVENT_NAME = "name";
inline const std::string EVENT_DESCRIPTION = "description";
inline const std::string EVENT_DATA = "data";

// Event payload field maps.
inline const std::string EVENT_DATA_NAME = "name";
inline const std::string EVENT_DATA_DESCRIPTION = "description";
inline const std::string EVENT_DATA_TYPE = "type";

// Event payload type names.
inline const std::string EVENT_TYPE_BOOLEAN = "boolean";
inline const std::string EVENT_TYPE_FLOAT = "float";
inline const std::string EVENT_TYPE_INT = "int";
inline const std::string EVENT_TYPE_STRING = "string";

// Framework name, then the node categories.
inline const std::string FRAMEWORK_NAME = "Quorvel";
inline const std::string CATEGORY_AUDIO_PROCESSING = "Audio Processing";
inline const std::string CATEGORY_MIXING = "Mixing";
inline const std::string CATEGORY_MUSIC = "Music";
inline const std::string CATEGORY_VOICE = "Voice";
inline const std::string CATEGORY_GENERATION = "Generation";
inline const std::string CATEGORY_ANALYSIS = "Analysis";
inline const std::string CATEGORY_EFFECTS = "Effects";
inline const std::string CATEGORY_UTILITY = "Utility";
inline const std::string CATEGORY_AI = "AI";
inline const std::string CATEGORY_RTC = "RTC";

// Property maps with range and options.
inline const std::string PROPERTY_TYPE = "type";
inline const std::string PROPERTY_NAME = "name";
inline const std::string PROPERTY_DESCRIPTION = "description";
inline const std::string PROPERTY_DEFAULT = "default";
inline const std::string PROPERTY_MIN = "min";
inline const std::string PROPERTY_MAX = "max";
inline const std::string PROPERTY_OPTIONS = "options";
inline const std::string PROPERTY_VALUE = "value";

inline const std::string PROPERTY_TYPE_BOOLEAN = "boolean";
inline const std::string PROPERTY_TYPE_FLOAT = "float";
inline const std::string PROPERTY_TYPE_INT = "int";
inline const std::string PROPERTY_TYPE_STRING = "string";
inline const std::string PROPERTY_TYPE_ARRAY = "array";

// Parameter maps with unit, access flag and accessors.
inline const std::string PARAMETER_TYPE = "type";
inline const std::string PARAMETER_NAME = "name";
inline const std::string PARAMETER_DESCRIPTION = "description";
inline const std::string PARAMETER_DEFAULT = "default";
inline const std::string PARAMETER_UNIT = "unit";
inline const std::string PARAMETER_MIN = "min";
inline const std::string PARAMETER_MAX = "max";
inline const std::string PARAMETER_OPTIONS = "options";
inline const std::string PARAMETER_READ_ONLY = "readOnly";
inline const std::string PARAMETER_VALUE = "value";
inline const std::string PARAMETER_GETTER = "getter";
inline const std::string PARAMETER_SETTER = "setter";

inline const std::string PARAMETER_TYPE_BOOLEAN = "boolean";
inline const std::string PARAMETER_TYPE_FLOAT = "float";
inline const std::string PARAMETER_TYPE_INT = "int";
inline const std::string PARAMETER_TYPE_STRING = "string";

// Unit names.
inline const std::string UNIT_MS = "ms";
inline const std::string UNIT_DB = "dB";
inline const std::string UNIT_PERCENT = "%";
inline const std::string UNIT_HZ = "Hz";
inline const std::string UNIT_SEMITONES = "semitones";
inline const std::string UNIT_BPM = "BPM";
inline const std::string UNIT_SAMPLES = "samples";
inline const std::string UNIT_FRAMES = "frames";
inline const std::string UNIT_CHANNELS = "channels";
inline const std::string UNIT_BYTES = "bytes";
inline const std::string UNIT_BITS = "bits";

// Log level names.
inline const std::string LOG_LEVEL_NONE = "none";
inline const std::string LOG_LEVEL_ERROR = "error";
inline const std::string LOG_LEVEL_WARNING = "warning";
inline const std::string LOG_LEVEL_INFO = "info";
inline const std::string LOG_LEVEL_DEBUG = "debug";
inline const std::string LOG_LEVEL_TRACE = "trace";

inline const std::array<const std::string*, 10> NODE_CATEGORIES_ALL = {
    &CATEGORY_AUDIO_PROCESSING, &CATEGORY_MIXING, &CATEGORY_MUSIC, &CATEGORY_VOICE,
    &CATEGORY_GENERATION,       &CATEGORY_ANALYSIS, &CATEGORY_EFFECTS, &CATEGORY_UTILITY,
    &CATEGORY_AI,               &CATEGORY_RTC};

inline const std::array<const std::string*, 6> LOG_LEVELS_ALL = {
    &LOG_LEVEL_NONE, &LOG_LEVEL_ERROR, &LOG_LEVEL_WARNING,
    &LOG_LEVEL_INFO, &LOG_LEVEL_DEBUG, &LOG_LEVEL_TRACE};

}  // namespace quorvel::metadata
