// Where the voice and recognizer files are looked for.
//
// Primary place: a "files" folder beside the running program's executable,
// holding the recognizer files directly and one sub-folder per voice
// language. The recognizer files also have a fallback under the working
// directory. Nothing is cached: every call looks afresh. Whether a returned
// path exists is the caller's test, except inside the resolve functions.
// No function throws: a path that cannot be examined (a name too long, a
// loop of links, no permission) counts as absent, and a working directory
// that cannot be read (removed, or not searchable) gives a fallback relative
// to the process's current directory, with a warning of the recognition node
// (the only caller of the resolvers) that names the error.
#pragma once

#include <filesystem>
#include <initializer_list>
#include <string>

namespace quorvel::extensions::sherpa {

// Whether something exists at `path`; false also when it cannot be examined.
bool pathExists(const std::string& path) noexcept;
// A file a loader is given: what it is ("Model file") and its path.
struct NamedFile {
  const char* what;
  const std::string& path;
};
// For each file at whose path nothing exists, logs at warning level
// `logTag` + " " + what + " does not exist at path: " + path. Only warnings:
// the loaders go on and let the engine refuse.
void warnOfMissingFiles(const std::string& logTag, std::initializer_list<NamedFile> files);

// Directory of the running executable, or an empty path.
std::filesystem::path executableDirectory();
// The directory part of an executable path: everything before its last '/'
// or '\\', whichever comes last; empty when there is neither.
std::filesystem::path directoryOfExecutablePath(const std::string& exePath);

std::string defaultSTTModelPath();
std::string defaultSTTTokensPath();
std::string defaultSTTGraphPath();

// Voice files for "en" or "de"; empty strings for any other code.
std::string defaultTTSModelPath(const std::string& language);
std::string defaultTTSTokensPath(const std::string& language);
std::string defaultTTSDataDirPath(const std::string& language);

// The primary recognizer path when something exists there, else the
// working-directory path (not tested for existence; see above for a working
// directory that cannot be read).
std::string resolveSTTModelPath();
std::string resolveSTTTokensPath();
std::string resolveSTTGraphPath();

}  // namespace quorvel::extensions::sherpa
