// The framework's metadata vocabulary, set by set, against the exact strings
// that applications and other extensions compare with; and the two walkable
// lists, in their canonical order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <quorvel/Logger.h>
#include <quorvel/Metadata.h>

namespace md = quorvel::metadata;
using Strings = std::vector<std::string>;

TEST(MetadataVocabulary, ActionAndParameterKeysAndTypeNames) {
  EXPECT_EQ((Strings{md::ACTION_NAME, md::ACTION_DESCRIPTION, md::ACTION_PARAMETERS, md::ACTION_HANDLER}),
            (Strings{"name", "description", "parameters", "handler"}));
  EXPECT_EQ((Strings{md::PARAM_NAME, md::PARAM_DESCRIPTION, md::PARAM_TYPE, md::PARAM_IS_OPTIONAL}),
            (Strings{"name", "description", "type", "isOptional"}));
  EXPECT_EQ((Strings{md::PARAM_TYPE_BOOLEAN, md::PARAM_TYPE_FLOAT, md::PARAM_TYPE_INT, md::PARAM_TYPE_STRING,
                     md::PARAM_TYPE_OBJECT}),
            (Strings{"boolean", "float", "int", "string", "object"}));
}

TEST(MetadataVocabulary, EventKeysAndTypeNames) {
  EXPECT_EQ((Strings{md::EVENT_NAME, md::EVENT_DESCRIPTION, md::EVENT_DATA}), (Strings{"name", "description", "data"}));
  EXPECT_EQ((Strings{md::EVENT_DATA_NAME, md::EVENT_DATA_DESCRIPTION, md::EVENT_DATA_TYPE}),
            (Strings{"name", "description", "type"}));
  EXPECT_EQ((Strings{md::EVENT_TYPE_BOOLEAN, md::EVENT_TYPE_FLOAT, md::EVENT_TYPE_INT, md::EVENT_TYPE_STRING}),
            (Strings{"boolean", "float", "int", "string"}));
}

TEST(MetadataVocabulary, FrameworkNameAndNodeCategoriesInTheirOrder) {
  EXPECT_EQ(md::FRAMEWORK_NAME, "Quorvel");
  const Strings categories = {"Audio Processing", "Mixing",  "Music",   "Voice", "Generation",
                              "Analysis",         "Effects", "Utility", "AI",    "RTC"};
  EXPECT_EQ((Strings{md::CATEGORY_AUDIO_PROCESSING, md::CATEGORY_MIXING, md::CATEGORY_MUSIC, md::CATEGORY_VOICE,
                     md::CATEGORY_GENERATION, md::CATEGORY_ANALYSIS, md::CATEGORY_EFFECTS, md::CATEGORY_UTILITY,
                     md::CATEGORY_AI, md::CATEGORY_RTC}),
            categories);
  Strings listed;
  for (const std::string* category : md::NODE_CATEGORIES_ALL) listed.push_back(*category);
  EXPECT_EQ(listed, categories);
}

TEST(MetadataVocabulary, PropertyAndParameterKeySetsWithTheirTypeNames) {
  EXPECT_EQ((Strings{md::PROPERTY_TYPE, md::PROPERTY_NAME, md::PROPERTY_DESCRIPTION, md::PROPERTY_DEFAULT,
                     md::PROPERTY_MIN, md::PROPERTY_MAX, md::PROPERTY_OPTIONS, md::PROPERTY_VALUE}),
            (Strings{"type", "name", "description", "default", "min", "max", "options", "value"}));
  EXPECT_EQ((Strings{md::PROPERTY_TYPE_BOOLEAN, md::PROPERTY_TYPE_FLOAT, md::PROPERTY_TYPE_INT,
                     md::PROPERTY_TYPE_STRING, md::PROPERTY_TYPE_ARRAY}),
            (Strings{"boolean", "float", "int", "string", "array"}));
  EXPECT_EQ((Strings{md::PARAMETER_TYPE, md::PARAMETER_NAME, md::PARAMETER_DESCRIPTION, md::PARAMETER_DEFAULT,
                     md::PARAMETER_UNIT, md::PARAMETER_MIN, md::PARAMETER_MAX, md::PARAMETER_OPTIONS,
                     md::PARAMETER_READ_ONLY, md::PARAMETER_VALUE, md::PARAMETER_GETTER, md::PARAMETER_SETTER}),
            (Strings{"type", "name", "description", "default", "unit", "min", "max", "options", "readOnly", "value",
                     "getter", "setter"}));
  EXPECT_EQ((Strings{md::PARAMETER_TYPE_BOOLEAN, md::PARAMETER_TYPE_FLOAT, md::PARAMETER_TYPE_INT,
                     md::PARAMETER_TYPE_STRING}),
            (Strings{"boolean", "float", "int", "string"}));
}

TEST(MetadataVocabulary, UnitNames) {
  EXPECT_EQ((Strings{md::UNIT_MS, md::UNIT_DB, md::UNIT_PERCENT, md::UNIT_HZ, md::UNIT_SEMITONES, md::UNIT_BPM,
                     md::UNIT_SAMPLES, md::UNIT_FRAMES, md::UNIT_CHANNELS, md::UNIT_BYTES, md::UNIT_BITS}),
            (Strings{"ms", "dB", "%", "Hz", "semitones", "BPM", "samples", "frames", "channels", "bytes", "bits"}));
}

// The logger's own level names are the vocabulary's.
TEST(MetadataVocabulary, LogLevelNamesMatchTheLoggersLevels) {
  const Strings names = {"none", "error", "warning", "info", "debug", "trace"};
  EXPECT_EQ((Strings{md::LOG_LEVEL_NONE, md::LOG_LEVEL_ERROR, md::LOG_LEVEL_WARNING, md::LOG_LEVEL_INFO,
                     md::LOG_LEVEL_DEBUG, md::LOG_LEVEL_TRACE}),
            names);
  Strings listed, fromLogger;
  for (const std::string* name : md::LOG_LEVELS_ALL) listed.push_back(*name);
  for (int level = 0; level <= 5; ++level) fromLogger.push_back(quorvel::Logger::levelName(quorvel::LogLevel(level)));
  EXPECT_EQ(listed, names);
  EXPECT_EQ(fromLogger, names);
}
