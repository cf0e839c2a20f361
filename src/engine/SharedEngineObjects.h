// Engine voices and recognizers shared by every node that loads the same
// files.
//
// A voice weighs as much as its model's weights (tens of megabytes for a
// real one), so a process running one conversation per call would hold one
// copy per node. Instead, the first node to load a set of files creates the
// engine object, later nodes loading the same files get the same object,
// and each node's release counts down; the last one destroys it. The
// engine's functions may be called on one object from several threads at
// once: a recognizer serves many streams, each decoded by its own node, and
// nodes sharing a voice generate on it at the same time, each under its own
// EngineLock (bench/shared_voice_bench: two generations on one voice run
// side by side, neither waiting for the other, and give the audio each
// gives alone).
//
// Files are told apart by what they are on disk, not by how their paths
// are spelt: device, inode, size and modification time. Two links to one
// file share; two copies do not, nor does a file rewritten since the object
// was made from it. When any file cannot be examined the object is created
// for that node alone.
//
// Loading and teardown threads: a mutex guards the registry, held only to
// look it up and change it, never while an object is created or destroyed.
// Nodes loading the same files at once create the object once (the later
// ones wait for the first one's creation); a load or release of other files
// does not wait for it. The render step never comes here (only a listener
// that reloads a voice from inside produce, which loads the engine there
// anyway).
#pragma once

#include <functional>
#include <string>

#include "SherpaOnnxCApi.h"

namespace quorvel::extensions::sherpa {

// The voice loaded from these files, shared when another node holds it
// already; otherwise the result of `create` (null when it failed, in which
// case nothing is held). Each non-null result is given back once with
// releaseSharedVoice.
const SherpaOnnxOfflineTts* acquireSharedVoice(const std::string& modelPath, const std::string& tokensPath,
                                               const std::string& dataDirPath,
                                               const std::function<const SherpaOnnxOfflineTts*()>& create);
// Destroys the voice when this was its last user.
void releaseSharedVoice(const SherpaOnnxOfflineTts* voice);

// The same for recognizers (model, tokens, decoding graph). Streams are the
// nodes' own: each destroys its stream before releasing the recognizer.
// `settings` names the rest of the configuration that differs between
// nodes (the endpoint rules live in the recognizer, not in its streams):
// only nodes with equal settings share.
const SherpaOnnxOnlineRecognizer* acquireSharedRecognizer(
    const std::string& modelPath, const std::string& tokensPath, const std::string& graphPath,
    const std::string& settings, const std::function<const SherpaOnnxOnlineRecognizer*()>& create);
void releaseSharedRecognizer(const SherpaOnnxOnlineRecognizer* recognizer);

}  // namespace quorvel::extensions::sherpa
