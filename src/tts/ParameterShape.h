// The shape of an action parameter: empty, a map, or a scalar that converts
// to a string or a flag. Conversion alone cannot tell them apart (an empty
// value, a map and "" all convert to "" and false), and a map or an empty
// value where a scalar is expected is refused by name rather than read.
#pragma once

#include <string>

#include <quorvel/QVAny.h>

namespace quorvel::extensions::sherpa {

enum class ParameterShape { Empty, Map, Scalar };

ParameterShape shapeOf(const QVAny& value);

// "empty", "object" (the metadata's name for a map) or "scalar".
const std::string& shapeName(ParameterShape shape);

}  // namespace quorvel::extensions::sherpa
