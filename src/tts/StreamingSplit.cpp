#include "StreamingSplit.h"

namespace quorvel::extensions::sherpa {

namespace {
constexpr std::size_t kSentenceMinLength = 50;
constexpr std::size_t kClauseMinLength = 80;
constexpr std::size_t kWordMinLength = 150;
}  // namespace

bool isSentenceEnd(char c) { return c == '.' || c == '!' || c == '?'; }

bool isClauseBreak(char c) { return c == ',' || c == ':' || c == ';'; }

bool isEllipsisDot(const std::string& buffer, std::size_t position) {
  if (position >= buffer.size() || buffer[position] != '.') return false;
  std::size_t run = 1;
  for (std::size_t i = position; i > 0 && buffer[i - 1] == '.'; --i) ++run;
  for (std::size_t i = position + 1; i < buffer.size() && buffer[i] == '.'; ++i) ++run;
  return run >= 2;
}

std::size_t findSplitPoint(const std::string& buffer) {
  const std::size_t length = buffer.size();
  if (length >= kSentenceMinLength) {
    for (std::size_t p = length; p-- > 0;) {
      if (isSentenceEnd(buffer[p]) && !isEllipsisDot(buffer, p)) return p + 1;
    }
  }
  if (length >= kClauseMinLength) {
    for (std::size_t p = length; p-- > 0;) {
      if (isClauseBreak(buffer[p])) return p + 1;
    }
  }
  if (length < kWordMinLength) return 0;
  for (std::size_t p = length; p-- > 0;) {
    if (buffer[p] == ' ') return p + 1;
  }
  return length;
}

std::string takePiece(std::string& buffer) {
  const std::size_t n = findSplitPoint(buffer);
  if (n == 0) return {};
  std::string piece = buffer.substr(0, n);
  const std::size_t restStart = buffer.find_first_not_of(" \t\n", n);
  buffer.erase(0, restStart == std::string::npos ? buffer.size() : restStart);
  return piece;
}

}  // namespace quorvel::extensions::sherpa
