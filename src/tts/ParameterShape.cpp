#include "ParameterShape.h"

#include <quorvel/Metadata.h>

namespace quorvel::extensions::sherpa {

ParameterShape shapeOf(const QVAny& value) {
  if (value.isEmpty()) return ParameterShape::Empty;
  if (value.asMap() != nullptr) return ParameterShape::Map;
  return ParameterShape::Scalar;
}

const std::string& shapeName(ParameterShape shape) {
  static const std::string empty = "empty";
  static const std::string scalar = "scalar";
  switch (shape) {
    case ParameterShape::Empty: return empty;
    case ParameterShape::Map: return metadata::PARAM_TYPE_OBJECT;
    case ParameterShape::Scalar: return scalar;
  }
  return scalar;
}

}  // namespace quorvel::extensions::sherpa
