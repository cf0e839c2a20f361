// devices: the sound server's output and input devices, the defaults marked.
#include <cstdio>

#include <nlohmann/json.hpp>

#include "Commands.h"
#include "sound/SoundServer.h"

namespace qs_cli {

int runDevices(HostSession& session) {
  std::string error;
  sound::SoundServer server;
  if (!server.connect(error)) return fail(error);
  for (auto direction : {sound::Direction::Output, sound::Direction::Input}) {
    std::vector<sound::DeviceInfo> devices;
    if (!server.listDevices(direction, devices, error)) return fail(error);
    const char* word = direction == sound::Direction::Output ? "output" : "input";
    if (!session.json()) std::printf("%s devices:%s\n", word, devices.empty() ? " none" : "");
    for (const sound::DeviceInfo& device : devices) {
      if (session.json()) {
        nlohmann::json line = {{"direction", word},       {"name", device.name},
                               {"description", device.description}, {"sampleRate", device.sampleRate},
                               {"channels", device.channels}, {"default", device.isDefault}};
        std::printf("%s\n", line.dump().c_str());
      } else {
        std::printf("  %s %s: %s (%s)\n", device.isDefault ? "*" : " ", device.name.c_str(), device.description.c_str(),
                    sound::describeFormat(device.sampleRate, device.channels).c_str());
      }
    }
  }
  if (!session.json()) std::printf("(* marks the default)\n");
  return 0;
}

}  // namespace qs_cli
