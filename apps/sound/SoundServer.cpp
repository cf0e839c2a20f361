#include "SoundServer.h"

#include <thread>

namespace qs_cli::sound {

namespace {

// A local server answers in milliseconds; these only bound a stuck one.
constexpr std::chrono::milliseconds kConnectTimeout{3000};
constexpr std::chrono::milliseconds kQueryTimeout{3000};
constexpr std::chrono::milliseconds kPollInterval{2};

const char* directionWord(Direction direction) { return direction == Direction::Output ? "output" : "input"; }

std::string connectionError(int code) {
  std::string reason = std::string("PulseAudio: ") + pa_strerror(code);
  if (code == PA_ERR_CONNECTIONREFUSED) return "the sound server is not running (" + reason + ")";
  return "cannot connect to the sound server (" + reason + ")";
}

struct DeviceQuery {
  Direction direction;
  std::vector<DeviceInfo>* devices;
  std::string defaultName;
};

void addDevice(DeviceQuery& query, const char* name, const char* description, const pa_sample_spec& sampleFormat) {
  DeviceInfo device;
  device.direction = query.direction;
  device.name = name != nullptr ? name : "";
  device.description = description != nullptr ? description : "";
  device.sampleRate = static_cast<int>(sampleFormat.rate);
  device.channels = sampleFormat.channels;
  device.isDefault = !query.defaultName.empty() && device.name == query.defaultName;
  query.devices->push_back(device);
}

void onSink(pa_context*, const pa_sink_info* info, int endOfList, void* userdata) {
  if (endOfList != 0 || info == nullptr) return;
  addDevice(*static_cast<DeviceQuery*>(userdata), info->name, info->description, info->sample_spec);
}

void onSource(pa_context*, const pa_source_info* info, int endOfList, void* userdata) {
  if (endOfList != 0 || info == nullptr) return;
  addDevice(*static_cast<DeviceQuery*>(userdata), info->name, info->description, info->sample_spec);
}

void onServerInfo(pa_context*, const pa_server_info* info, void* userdata) {
  auto* query = static_cast<DeviceQuery*>(userdata);
  if (info == nullptr) return;
  const char* name = query->direction == Direction::Output ? info->default_sink_name : info->default_source_name;
  query->defaultName = name != nullptr ? name : "";
}

}  // namespace

std::string describeFormat(int sampleRate, unsigned channels) {
  return std::to_string(sampleRate) + " Hz, " + std::to_string(channels) + (channels == 1 ? " channel" : " channels");
}

SoundServer::SoundServer() = default;

SoundServer::~SoundServer() {
  if (started_) {
    {
      MainLoopLock lock(loop_);
      pa_context_disconnect(context_);
    }
    pa_threaded_mainloop_stop(loop_);
  }
  if (context_ != nullptr) pa_context_unref(context_);
  if (loop_ != nullptr) pa_threaded_mainloop_free(loop_);
}

bool SoundServer::connect(std::string& error) {
  if (loop_ != nullptr) {
    error = "already connected to the sound server";
    return false;
  }
  loop_ = pa_threaded_mainloop_new();
  if (loop_ != nullptr) context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "quorvel-sherpa");
  if (loop_ == nullptr || context_ == nullptr) {
    error = "cannot set up a connection to the sound server (out of memory)";
    return false;
  }
  if (pa_threaded_mainloop_start(loop_) < 0) {
    error = "cannot start the sound server connection's thread";
    return false;
  }
  started_ = true;
  MainLoopLock lock(loop_);
  // Never spawn a server: a user who has none is told so.
  if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    error = connectionError(pa_context_errno(context_));
    return false;
  }
  auto settled = [this] {
    pa_context_state_t state = pa_context_get_state(context_);
    return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
  };
  if (!waitUntil(settled, kConnectTimeout)) {
    error = "the sound server did not answer within " + std::to_string(kConnectTimeout.count() / 1000) + " s";
    return false;
  }
  if (pa_context_get_state(context_) != PA_CONTEXT_READY) {
    error = connectionError(pa_context_errno(context_));
    return false;
  }
  return true;
}

bool SoundServer::waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return done();
    pa_threaded_mainloop_unlock(loop_);
    std::this_thread::sleep_for(kPollInterval);
    pa_threaded_mainloop_lock(loop_);
  }
  return true;
}

std::string SoundServer::lastError() { return std::string("PulseAudio: ") + pa_strerror(pa_context_errno(context_)); }

bool SoundServer::runQuery(pa_operation* operation, std::string& error) {
  if (operation == nullptr) {
    error = "the sound server refused a device query (" + lastError() + ")";
    return false;
  }
  bool finished = waitUntil([operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; },
                            kQueryTimeout);
  if (!finished) pa_operation_cancel(operation);
  bool completed = pa_operation_get_state(operation) == PA_OPERATION_DONE;
  pa_operation_unref(operation);
  if (!finished) {
    error = "the sound server did not answer a device query within " + std::to_string(kQueryTimeout.count() / 1000) + " s";
  } else if (!completed) {
    error = pa_context_get_state(context_) == PA_CONTEXT_READY ? "a device query failed (" + lastError() + ")"
                                                               : "the sound server went away";
  }
  return finished && completed;
}

bool SoundServer::listDevices(Direction direction, std::vector<DeviceInfo>& devices, std::string& error) {
  devices.clear();
  if (!started_) {
    error = "not connected to the sound server";
    return false;
  }
  MainLoopLock lock(loop_);
  DeviceQuery query{direction, &devices, {}};
  if (!runQuery(pa_context_get_server_info(context_, onServerInfo, &query), error)) return false;
  pa_operation* list = direction == Direction::Output
                           ? pa_context_get_sink_info_list(context_, onSink, &query)
                           : pa_context_get_source_info_list(context_, onSource, &query);
  return runQuery(list, error);
}

bool SoundServer::findDevice(Direction direction, const std::string& name, DeviceInfo& device, std::string& error) {
  std::vector<DeviceInfo> devices;
  if (!listDevices(direction, devices, error)) return false;
  for (const DeviceInfo& candidate : devices) {
    if (name.empty() ? candidate.isDefault : candidate.name == name) {
      device = candidate;
      return true;
    }
  }
  if (name.empty() && !devices.empty()) {
    // A server without a default (none chosen yet) still plays on its first device.
    device = devices.front();
    return true;
  }
  if (!name.empty()) {
    error = std::string("no ") + directionWord(direction) + " device named '" + name +
            "' (quorvel-sherpa devices lists them)";
  } else {
    error = std::string("no ") + directionWord(direction) + " device: the sound server has none";
  }
  return false;
}

}  // namespace qs_cli::sound
