// Checks of the recognizer's model metadata, decoding graph and token table.
//
// The engine accepts a broken graph and then crashes at the first decode, and
// ends the process on a model without one of its nine zipformer2 metadata
// keys, on an empty token table or on one without "<blk>"; these checks let a
// load refuse such files first. They read the files only, never throw and do
// not log: the caller reports the result.
#pragma once

#include <string>

#include "ModelMetadata.h"

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

// The nine keys a streaming zipformer2 CTC model must have (encoder_dims,
// query_head_dims, value_head_dims, num_heads, num_encoder_layers,
// cnn_module_kernels, left_context_len, T, decode_chunk_len), each a
// comma-separated list of non-negative integers, none given twice with
// different values. "" when fine, else what is wrong.
std::string recognizerMetadataProblem(const ModelMetadata& metadata);

// The model file's metadata: "" when fine or when nothing exists at `path`
// (the engine refuses a missing file itself), else "Model file PATH: why".
std::string recognizerModelProblem(const std::string& path);

}  // namespace quorvel::extensions::sherpa
