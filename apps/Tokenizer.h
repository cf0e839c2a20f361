// Splits text into tokens the way a text generator emits them: each word
// carries the whitespace before it, and punctuation comes as its own token.
#pragma once

#include <string>
#include <vector>

namespace qs_cli {

std::vector<std::string> splitIntoTokens(const std::string& text);

}  // namespace qs_cli
