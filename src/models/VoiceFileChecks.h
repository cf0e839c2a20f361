// What a piper voice's files must satisfy before the engine is given them.
//
// The engine ends the process, instead of failing the load, on a model whose
// metadata lacks or negates a value it needs, on a token table with a
// duplicate, multi-character or blank line, and (through espeak-ng) on a data
// directory that is not espeak-ng data. These checks find each of those
// first. Every function returns "" when the input is fine, else one line
// saying what is wrong; none throws or logs.
#pragma once

#include <string>
#include <string_view>

#include "ModelMetadata.h"

namespace quorvel::extensions::sherpa {

// sample_rate (> 0) and n_speakers (>= 0) present as integers; language
// present; comment present and containing "piper"; the optional integers
// (add_blank, speaker_id, version, blank_id, bos_id, eos_id, use_eos_bos,
// pad_id, jieba, has_g2pw) not negative; no front end that needs a
// dictionary (jieba, has_g2pw, frontend "characters"); no key given twice
// with different values. Integers are read as the engine reads them (atoi).
std::string voiceMetadataProblem(const ModelMetadata& metadata);

// A token table: lines of "SYMBOL ID" (a line of only an id is the space
// symbol), each symbol one UTF-8 code point, no symbol twice, no blank line
// (a single final newline is fine), and the symbols "_", "^" and "$".
std::string voiceTokensProblem(std::string_view table);

// The files espeak-ng loads at start-up: phontab (a well-formed table of
// phoneme tables holding every table the voice files name), phonindex,
// phondata (of the data version the engine's espeak-ng reads) and
// intonations. The verdict is kept per directory for as long as the size
// and modification time of those files and of its "lang" and "voices"
// folders stay the same (espeak-ng itself reads its data once a process).
std::string espeakDataProblem(const std::string& dataDir);
// The phontab layout alone: table count, each table's header, name and
// phonemes inside the file, includes only of earlier tables.
std::string phontabProblem(std::string_view phontab);

// All of the above on the files, prefixed with which file is wrong
// ("Tokens file /v/tokens.txt line 12: duplicate symbol 'a'"). A path where
// nothing exists is not examined: the engine refuses missing files itself.
std::string voiceFilesProblem(const std::string& modelPath, const std::string& tokensPath,
                              const std::string& dataDir);

}  // namespace quorvel::extensions::sherpa
