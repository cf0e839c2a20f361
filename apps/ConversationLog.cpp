#include "ConversationLog.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#include <nlohmann/json.hpp>

namespace qs_cli {

bool ConversationLog::open(const std::string& path, std::string& error) {
  if (!path.empty()) {
    path_ = path;
    std::ofstream file(path_, std::ios::trunc);
    if (!file) {
      error = "cannot write '" + path_ + "': " + std::strerror(errno);
      return false;
    }
    return true;
  }
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/quorvel-conversation-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());
  if (fd < 0) {
    error = "cannot create the conversation file " + pattern + ": " + std::strerror(errno);
    return false;
  }
  ::close(fd);
  path_ = name.data();
  temporary_ = true;
  return true;
}

ConversationLog::~ConversationLog() {
  if (temporary_) ::unlink(path_.c_str());
}

void ConversationLog::user(const std::string& text) { append(nlohmann::json{{"role", "user"}, {"text", text}}.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)); }

void ConversationLog::agent(const std::string& heard, bool interrupted, const std::string& notHeard) {
  nlohmann::json line{{"role", "agent"}, {"text", heard}};
  if (interrupted) {
    line["interrupted"] = true;
    line["notHeard"] = notHeard;
  }
  append(line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

void ConversationLog::append(const std::string& line) {
  std::ofstream file(path_, std::ios::app);
  file << line << '\n';
}

}  // namespace qs_cli
