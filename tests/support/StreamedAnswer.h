// A generator's answer of about 1 kB and the word tokens a text generator
// would send it in, shared by the streamed-answer tests and benchmarks.
#pragma once

#include <cstring>
#include <string>
#include <vector>

namespace streamed_answer {

inline constexpr const char* kAnswer =
    "Thank you for asking about the old lighthouse on the northern cape that the fishermen of the village "
    "below it built with their own hands more than a hundred and fifty years ago. "
    "It stands on a rock of dark granite. The tower is thirty metres high, and its lamp could be seen far out "
    "at sea on a clear night. "
    "For many years a keeper lived there with his family; he climbed the stairs every evening, trimmed the "
    "wick and wound the heavy clock that turned the lens. "
    "In winter the storms were fierce! Waves broke over the rocks, and the spray reached the gallery at the "
    "top. "
    "Supplies came by boat once a month, weather permitting: bread, oil, letters and news from the town. "
    "Today the light works by itself, and the keeper's house is a small museum with photographs, old maps, "
    "the logbooks of every keeper and a model of the great lens. "
    "There is also a cafe in the former boat shed, where you can sit by the window and watch the ships. "
    "You can visit it from May to September, every day except Monday. "
    "Would you like to know how to get there?";

// Each word with the space before it; punctuation as a token of its own.
inline std::vector<std::string> tokensOf(const std::string& text) {
  std::vector<std::string> tokens;
  std::string word;
  for (char c : text) {
    const bool punctuation = std::strchr(".,;:!?", c) != nullptr;
    if ((c == ' ' || punctuation) && !word.empty() && word != " ") {
      tokens.push_back(word);
      word.clear();
    }
    if (punctuation) {
      tokens.push_back(std::string(1, c));
    } else {
      word += c;
    }
  }
  if (!word.empty()) tokens.push_back(word);
  return tokens;
}

}  // namespace streamed_answer
