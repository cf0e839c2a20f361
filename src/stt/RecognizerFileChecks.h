// Structural checks of the recogniser's decoding graph and token table.
//
// The engine accepts a broken graph and then crashes at the first decode, and
// ends the process on an empty token table or one without "<blk>"; these
// checks let a load refuse such files first. They read the file only, never
// throw and do not log: the caller reports a false result.
#pragma once

#include <string>

namespace quorvel::extensions::sherpa {

// An OpenFst binary graph with the standard arc type: magic number, fst type
// "vector" or "const", arc type "standard" and a known version. A "vector"
// graph is walked state by state: every count and state index must fit the
// file. A "const" graph must be large enough for the states and arcs its
// header announces.
bool isValidDecodingGraph(const std::string& path);

// A non-empty table of "symbol id" lines (id a non-negative integer) that
// contains the symbol "<blk>". Blank lines are ignored; a trailing '\r' is
// tolerated.
bool isValidTokensFile(const std::string& path);

}  // namespace quorvel::extensions::sherpa
