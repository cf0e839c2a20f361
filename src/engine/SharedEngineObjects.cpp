#include "SharedEngineObjects.h"

#include <algorithm>
#include <array>
#include <mutex>
#include <optional>
#include <vector>

#include "FileIdentity.h"

namespace quorvel::extensions::sherpa {

namespace {

// The three files an engine object is made from.
using FilesKey = std::array<FileIdentity, 3>;

std::optional<FilesKey> identify(const std::array<const std::string*, 3>& paths) {
  FilesKey key;
  for (size_t i = 0; i < paths.size(); ++i) {
    const std::optional<FileIdentity> identity = fileIdentity(*paths[i]);
    if (!identity) return std::nullopt;
    key[i] = *identity;
  }
  return key;
}

// Engine objects of one kind with their number of users. An object made
// from files that could not be identified is listed without a key: nobody
// else gets it, and its one release destroys it.
template <typename Handle>
class SharedHandles {
 public:
  explicit SharedHandles(void (*destroy)(const Handle*)) : destroy_(destroy) {}

  const Handle* acquire(const std::array<const std::string*, 3>& paths,
                        const std::function<const Handle*()>& create) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::optional<FilesKey> key = identify(paths);
    if (key) {
      for (Entry& entry : entries_) {
        if (entry.key == key) {
          ++entry.users;
          return entry.handle;
        }
      }
    }
    const Handle* handle = create();
    if (handle != nullptr) entries_.push_back(Entry{key, handle, 1});
    return handle;
  }

  void release(const Handle* handle) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const auto entry = std::find_if(entries_.begin(), entries_.end(),
                                      [handle](const Entry& e) { return e.handle == handle; });
      if (entry == entries_.end()) return;  // not ours: never handed out
      if (--entry->users > 0) return;
      entries_.erase(entry);
    }
    // Outside the lock: no other node can reach it any more, and loads of
    // other files need not wait for its memory to be given back.
    destroy_(handle);
  }

 private:
  struct Entry {
    std::optional<FilesKey> key;
    const Handle* handle;
    int users;
  };
  void (*const destroy_)(const Handle*);
  std::mutex mutex_;
  std::vector<Entry> entries_;
};

SharedHandles<SherpaOnnxOfflineTts>& voices() {
  static SharedHandles<SherpaOnnxOfflineTts> registry(&SherpaOnnxDestroyOfflineTts);
  return registry;
}

SharedHandles<SherpaOnnxOnlineRecognizer>& recognizers() {
  static SharedHandles<SherpaOnnxOnlineRecognizer> registry(&SherpaOnnxDestroyOnlineRecognizer);
  return registry;
}

}  // namespace

const SherpaOnnxOfflineTts* acquireSharedVoice(const std::string& modelPath, const std::string& tokensPath,
                                               const std::string& dataDirPath,
                                               const std::function<const SherpaOnnxOfflineTts*()>& create) {
  return voices().acquire({&modelPath, &tokensPath, &dataDirPath}, create);
}

void releaseSharedVoice(const SherpaOnnxOfflineTts* voice) { voices().release(voice); }

const SherpaOnnxOnlineRecognizer* acquireSharedRecognizer(
    const std::string& modelPath, const std::string& tokensPath, const std::string& graphPath,
    const std::function<const SherpaOnnxOnlineRecognizer*()>& create) {
  return recognizers().acquire({&modelPath, &tokensPath, &graphPath}, create);
}

void releaseSharedRecognizer(const SherpaOnnxOnlineRecognizer* recognizer) { recognizers().release(recognizer); }

}  // namespace quorvel::extensions::sherpa
