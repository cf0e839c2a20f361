// Where streamed text is cut into pieces to speak: pure functions over a
// byte string (positions and lengths count bytes; only ASCII punctuation is
// recognised).
#pragma once

#include <cstddef>
#include <string>

namespace quorvel::extensions::sherpa {

// '.', '!' or '?'.
bool isSentenceEnd(char c);
// ',', ':' or ';'.
bool isClauseBreak(char c);
// True when buffer[position] is a '.' inside a run of two or more dots.
bool isEllipsisDot(const std::string& buffer, std::size_t position);

// Length of the prefix to speak now; 0 holds everything. With L the length:
// from L >= 50 the rightmost sentence end that is no ellipsis dot, else from
// L >= 80 the rightmost clause break, else from L >= 150 the rightmost space
// (0x20), else from L >= 150 the whole buffer. The break stays in the piece.
std::size_t findSplitPoint(const std::string& buffer);

// Cuts the prefix findSplitPoint gives off `buffer` and returns it (empty,
// buffer unchanged, when it gives 0). The rest loses its leading spaces, tabs
// and line feeds; the piece is not trimmed.
std::string takePiece(std::string& buffer);

}  // namespace quorvel::extensions::sherpa
