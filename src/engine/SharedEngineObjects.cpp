#include "SharedEngineObjects.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <list>
#include <mutex>
#include <optional>

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
//
// The mutex is held only to look up and change the list, never while an
// object is created or destroyed: a load of other files, or a release,
// does not wait for a creation. A node loading files whose object another
// node is creating waits for that creation, and shares its result.
template <typename Handle>
class SharedHandles {
 public:
  explicit SharedHandles(void (*destroy)(const Handle*)) : destroy_(destroy) {}

  const Handle* acquire(const std::array<const std::string*, 3>& paths, const std::string& settings,
                        const std::function<const Handle*()>& create) {
    const std::optional<FilesKey> key = identify(paths);  // the disk, before the lock
    std::unique_lock<std::mutex> lock(mutex_);
    typename std::list<Entry>::iterator entry;
    for (;;) {
      entry = key ? std::find_if(entries_.begin(), entries_.end(),
                                 [&](const Entry& e) { return e.key == key && e.settings == settings; })
                  : entries_.end();
      if (entry == entries_.end()) break;
      if (entry->handle != nullptr) {
        ++entry->users;
        return entry->handle;
      }
      created_.wait(lock);  // being created; a failure removes it, and this node tries itself
    }
    entry = entries_.insert(entries_.end(), Entry{key, settings, nullptr, 1});
    lock.unlock();
    const Handle* handle = nullptr;
    try {
      handle = create();
    } catch (...) {  // the waiters must not wait for ever
      lock.lock();
      entries_.erase(entry);
      created_.notify_all();
      throw;
    }
    lock.lock();
    if (handle != nullptr) {
      entry->handle = handle;
    } else {
      entries_.erase(entry);
    }
    created_.notify_all();
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
    // No other node can reach it any more.
    destroy_(handle);
  }

 private:
  struct Entry {
    std::optional<FilesKey> key;
    std::string settings;  // what else the object was configured with
    const Handle* handle;  // null while it is being created
    int users;
  };
  void (*const destroy_)(const Handle*);
  std::mutex mutex_;
  std::condition_variable created_;
  std::list<Entry> entries_;  // entries stay put while one is created
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
  return voices().acquire({&modelPath, &tokensPath, &dataDirPath}, std::string(), create);
}

void releaseSharedVoice(const SherpaOnnxOfflineTts* voice) { voices().release(voice); }

const SherpaOnnxOnlineRecognizer* acquireSharedRecognizer(
    const std::string& modelPath, const std::string& tokensPath, const std::string& graphPath,
    const std::string& settings, const std::function<const SherpaOnnxOnlineRecognizer*()>& create) {
  return recognizers().acquire({&modelPath, &tokensPath, &graphPath}, settings, create);
}

void releaseSharedRecognizer(const SherpaOnnxOnlineRecognizer* recognizer) { recognizers().release(recognizer); }

}  // namespace quorvel::extensions::sherpa
