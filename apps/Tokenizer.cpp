#include "Tokenizer.h"

#include <cctype>

namespace qs_cli {

namespace {
bool isPunctuation(unsigned char c) { return c < 0x80 && std::ispunct(c) && c != '\'' && c != '-'; }
bool isSpace(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
}  // namespace

std::vector<std::string> splitIntoTokens(const std::string& text) {
  std::vector<std::string> tokens;
  std::string current;
  auto flush = [&] {
    if (!current.empty()) tokens.push_back(std::move(current));
    current.clear();
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (isSpace(c)) {
      // Whitespace opens the next token once the current one has content.
      bool onlySpace = true;
      for (char k : current) onlySpace = onlySpace && isSpace(static_cast<unsigned char>(k));
      if (!onlySpace) flush();
      current += text[i];
    } else if (isPunctuation(c)) {
      bool onlySpace = true;
      for (char k : current) onlySpace = onlySpace && isSpace(static_cast<unsigned char>(k));
      if (!onlySpace) flush();
      current += text[i];
      flush();
    } else {
      current += text[i];
    }
  }
  flush();
  return tokens;
}

}  // namespace qs_cli
