// Placeholder until the measured implementation lands.
#include "WordTiming.h"

namespace quorvel::extensions::sherpa {

namespace {
bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
}  // namespace

std::vector<size_t> wordEnds(const std::string& text) {
  std::vector<size_t> ends;
  for (size_t i = 0; i < text.size(); ++i)
    if (!isSpace(text[i]) && (i + 1 == text.size() || isSpace(text[i + 1]))) ends.push_back(i + 1);
  if (!ends.empty()) ends.back() = text.size();
  return ends;
}

std::vector<size_t> sentenceEnds(const std::string& text) {
  std::vector<size_t> ends;
  for (size_t i = 0; i < text.size(); ++i)
    if ((text[i] == '.' || text[i] == '!' || text[i] == '?') && (i + 1 == text.size() || isSpace(text[i + 1])))
      ends.push_back(i + 1);
  if (ends.empty() || ends.back() != text.size()) {
    bool trailing = false;
    for (size_t i = ends.empty() ? 0 : ends.back(); i < text.size(); ++i) trailing = trailing || !isSpace(text[i]);
    if (trailing || ends.empty()) ends.push_back(text.size()); else ends.back() = text.size();
  }
  return ends;
}

std::vector<int32_t> estimateWordEnds(const std::string& text, const float*, int32_t n) {
  const std::vector<size_t> ends = wordEnds(text);
  std::vector<int32_t> out;
  for (size_t end : ends) out.push_back(static_cast<int32_t>(static_cast<double>(end) / text.size() * n));
  if (!out.empty()) out.back() = n;
  return out;
}

}  // namespace quorvel::extensions::sherpa
